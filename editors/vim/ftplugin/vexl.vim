" Settings for vexl buffers: comments, and :make through vexlc.
if exists('b:did_ftplugin')
  finish
endif
let b:did_ftplugin = 1

setlocal comments=s1:/*,mb:*,ex:*/,:// commentstring=//\ %s
compiler vexlc
let b:undo_ftplugin = 'setlocal comments< commentstring< makeprg< errorformat<'
