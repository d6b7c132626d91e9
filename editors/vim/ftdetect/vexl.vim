" vexl sources (*.vxl) are written in Shift-JIS (code page 932), the
" encoding of the compiler's messages and of the texts a program prints.
" Existing files are read as cp932 and written back the same way; new files
" get cp932 too. A file can still be reopened differently with :e ++enc=...
augroup vexl_ftdetect
  autocmd!
  autocmd BufReadPre *.vxl let s:vexl_fencs = &fileencodings | set fileencodings=cp932
  autocmd BufReadPost *.vxl if exists('s:vexl_fencs') | let &fileencodings = s:vexl_fencs | unlet s:vexl_fencs | endif
  autocmd BufNewFile *.vxl setlocal fileencoding=cp932
  autocmd BufNewFile,BufRead *.vxl setfiletype vexl
augroup END
