" Vim compiler file for vexl sources: :make runs vexlc and the quickfix list
" receives its diagnostics. vexlc writes them in UTF-8 and in the form
"   FILE:LINE: error: TEXT
"   FILE:LINE: warning: TEXT     (line 1 for a warning that names no line)
"   FILE:LINE: fatal error: TEXT (the compilation stopped there)
" each error and warning followed by the source line, indented, which is
" not an entry.
" Use it with :compiler vexlc (set automatically for *.vxl buffers).
if exists('current_compiler')
  finish
endif
let current_compiler = 'vexlc'

if exists(':CompilerSet') != 2
  command -nargs=* CompilerSet setlocal <args>
endif

CompilerSet makeprg=vexlc\ --diagnostics-charset=utf-8\ --diagnostics-format=gnu\ %:S
CompilerSet errorformat=%f:%l:\ fatal\ %trror:\ %m,%f:%l:\ %trror:\ %m,%f:%l:\ %tarning:\ %m,%-G%.%#
