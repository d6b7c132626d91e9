-- Neovim with the provided setup opens a broken program saved in Shift-JIS
-- and must show the server's diagnostics on the right lines.
--   VEXL_REPO=... VEXL_LSP=... VEXL_DIR=... nvim --headless -u NONE -i NONE -c "luafile nvim_test.lua"
local repo, server, dir = os.getenv('VEXL_REPO'), os.getenv('VEXL_LSP'), os.getenv('VEXL_DIR')
local function finish(ok, why)
  if not ok then io.stderr:write('nvim_test: ' .. why .. '\n') end
  vim.cmd(ok and 'qall!' or 'cquit 1')
end

local function test()

vim.opt.runtimepath:append(repo .. '/editors/vim')
vim.opt.runtimepath:append(repo .. '/editors/nvim')
vim.cmd('filetype plugin on')
require('vexl').setup({ cmd = { server } })

-- Line 2: an unused variable; line 3: an assignment without its value;
-- line 5: an undeclared name, after a text in Japanese.
local source = table.concat({
  'function void start() {',
  '  int x;',
  '  x := ;',
  '  output "\x93\xfa\x96\x7b\x8c\xea";',
  '  output y;',
  '}',
  '',
}, '\n')
local path = dir .. '/broken.vxl'
local f = assert(io.open(path, 'wb'))
f:write(source)
f:close()
vim.cmd('edit ' .. vim.fn.fnameescape(path))
if vim.bo.filetype ~= 'vexl' then return finish(false, 'filetype is ' .. vim.bo.filetype) end
if vim.bo.fileencoding ~= 'cp932' then return finish(false, 'read as ' .. vim.bo.fileencoding) end

local got = vim.wait(10000, function() return #vim.diagnostic.get(0) > 0 end, 50)
if not got then return finish(false, 'no diagnostics arrived') end
local lines = {}
for _, d in ipairs(vim.diagnostic.get(0)) do lines[d.lnum + 1] = d.message end
if not lines[2] or not lines[3] or not lines[5] or lines[1] or lines[4] or lines[6] then
  return finish(false, 'diagnostics at the wrong lines: ' .. vim.inspect(vim.diagnostic.get(0)))
end
if not lines[5]:find("変数'y'は宣言されていません", 1, true) then
  return finish(false, 'unexpected message: ' .. lines[5])
end
finish(true)
end

local ok, err = pcall(test)
if not ok then finish(false, tostring(err)) end
