-- Neovim with the provided setup opens a broken program saved in Shift-JIS
-- and must show the server's diagnostics on the right lines; then rename,
-- signature help, hover while typing, and formatting through its client.
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

-- A working program, then rename, signature help, and hover while a
-- function is broken by typing.
local function ask(method, line, character, extra)
  local params = extra or {}
  params.textDocument = { uri = vim.uri_from_bufnr(0) }
  params.position = { line = line, character = character }
  local answers = vim.lsp.buf_request_sync(0, method, params, 5000) or {}
  for _, a in pairs(answers) do if a.result then return a.result end end
  return nil
end
local function hover_text(line, character)
  local r = ask('textDocument/hover', line, character)
  return r and r.contents and r.contents.value or ''
end
vim.api.nvim_buf_set_lines(0, 0, -1, false, {
  'int total;',
  'function int twice(int n) {',
  '  return n * 2;',
  '}',
  'function void start() {',
  '  total := twice(3);',
  '  output total;',
  '}',
})
if not hover_text(6, 10):find('int total', 1, true) then return finish(false, 'no hover on total') end
local sig = ask('textDocument/signatureHelp', 5, 17)
if not sig or sig.signatures[1].label ~= 'int twice(int n)' then
  return finish(false, 'signature help: ' .. vim.inspect(sig))
end
local edit = ask('textDocument/rename', 2, 9, { newName = 'value' })
local changes = edit and edit.changes and edit.changes[vim.uri_from_bufnr(0)]
if not changes or #changes ~= 2 then return finish(false, 'rename: ' .. vim.inspect(edit)) end
vim.api.nvim_buf_set_lines(0, 5, 5, false, { '  twice(' })
if not hover_text(7, 10):find('int total', 1, true) then return finish(false, 'blind while typing') end
if not hover_text(2, 9):find('parameter of twice', 1, true) then return finish(false, 'blind in twice') end

-- Formatting through Neovim's own client: the buffer gets the canonical
-- layout (the server answers with edits of the changed lines).
vim.api.nvim_buf_set_lines(0, 0, -1, false, {
  'int total;',
  'function int twice(int n) {return n*2;}',
  'function void start() {',
  '  total:=twice(3);   output total;',
  '}',
})
if vim.lsp.buf.format then
  vim.lsp.buf.format({ async = false, timeout_ms = 5000 })
else  -- before Neovim 0.8
  vim.lsp.buf.formatting_sync(nil, 5000)
end
local formatted = table.concat(vim.api.nvim_buf_get_lines(0, 0, -1, false), '\n')
local expected = table.concat({
  'int total;',
  'function int twice(int n) {',
  '    return n * 2;',
  '}',
  'function void start() {',
  '    total := twice(3);',
  '    output total;',
  '}',
}, '\n')
if formatted ~= expected then return finish(false, 'formatting gave:\n' .. formatted) end
finish(true)
end

local ok, err = pcall(test)
if not ok then finish(false, tostring(err)) end
