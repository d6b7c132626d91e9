" Vim syntax file for vexl sources (*.vxl).
" Install: copy editors/vim/ into ~/.vim/ (syntax/ and ftdetect/), or add
" this folder to 'runtimepath'. :make compiles the buffer through vexlc
" (compiler/vexlc.vim, chosen by ftplugin/vexl.vim).

if exists('b:current_syntax')
  finish
endif

" Keywords are lower case only; If and WHILE are identifiers.
syn case match

syn keyword vexlStatement   return break continue
syn keyword vexlConditional if else
syn keyword vexlRepeat      while do for
syn keyword vexlIO          input output
syn keyword vexlType        void int bool
syn keyword vexlStorage     const
syn keyword vexlDefine      function
syn keyword vexlWordOp      and or xor not div mod
syn keyword vexlBoolean     true false

syn match vexlNumber    "\<\(0\|[1-9][0-9]*\)\>"
" Two-character operators first: >< is "not equal", := is assignment.
syn match vexlOperator  ":=\|><\|<=\|>=\|[-+*=<>]"
syn match vexlDelimiter "[(){}\[\],;]"
" & is a token that no rule accepts; / (use div), ! and the rest are not
" part of the language.
syn match vexlError     "[&/!#$%'.?@\\^`|~]"

" Escapes are interpreted when the text is printed.
syn match  vexlEscape contained +\\\(["'?\\abfnrtv]\|x\x*\|\o\+\)+
syn region vexlString start=+"+ skip=+\\"+ end=+"+ end=+$+ oneline contains=vexlEscape

syn keyword vexlTodo contained TODO FIXME XXX NOTE
syn region vexlComment start="/\*" end="\*/" contains=vexlTodo,@Spell
syn match  vexlComment "//.*$" contains=vexlTodo,@Spell

hi def link vexlStatement   Statement
hi def link vexlConditional Conditional
hi def link vexlRepeat      Repeat
hi def link vexlIO          Statement
hi def link vexlType        Type
hi def link vexlStorage     StorageClass
hi def link vexlDefine      Keyword
hi def link vexlWordOp      Operator
hi def link vexlBoolean     Boolean
hi def link vexlNumber      Number
hi def link vexlOperator    Operator
hi def link vexlDelimiter   Delimiter
hi def link vexlError       Error
hi def link vexlEscape      SpecialChar
hi def link vexlString      String
hi def link vexlTodo        Todo
hi def link vexlComment     Comment

let b:current_syntax = 'vexl'
