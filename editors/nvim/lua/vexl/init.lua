-- Neovim setup for vexl sources: starts vexl-lsp through the built-in LSP
-- client for every buffer of filetype vexl (diagnostics, hover, go to
-- definition, references, symbols, completion).
--
--   vim.opt.runtimepath:append('/path/to/editors/vim')   -- filetype, syntax, :make
--   vim.opt.runtimepath:append('/path/to/editors/nvim')
--   require('vexl').setup({ cmd = { 'vexl-lsp' } })
--
-- Works with the client API of Neovim 0.7 and later.
local M = {}

M.config = { cmd = { 'vexl-lsp' } }

local client_id = nil

function M.attach(bufnr)
  if not client_id or not vim.lsp.get_client_by_id(client_id) then
    client_id = vim.lsp.start_client({
      name = 'vexl-lsp',
      cmd = M.config.cmd,
      root_dir = vim.fn.getcwd(),
      on_attach = M.config.on_attach,
      capabilities = M.config.capabilities,
      init_options = M.config.settings,  -- e.g. { cCompat = true, language = 'en' }
    })
  end
  if client_id then
    vim.lsp.buf_attach_client(bufnr, client_id)
  end
end

function M.setup(opts)
  M.config = vim.tbl_extend('force', M.config, opts or {})
  local group = vim.api.nvim_create_augroup('vexl_lsp', { clear = true })
  vim.api.nvim_create_autocmd('FileType', {
    group = group,
    pattern = 'vexl',
    callback = function(args) M.attach(args.buf) end,
  })
  -- Buffers that got their filetype before setup ran.
  for _, buf in ipairs(vim.api.nvim_list_bufs()) do
    if vim.api.nvim_buf_is_loaded(buf) and vim.bo[buf].filetype == 'vexl' then
      M.attach(buf)
    end
  end
end

return M
