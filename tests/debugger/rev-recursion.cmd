# Going back through a recursion: reverse-continue to earlier hits,
# reverse-finish to the call, reverse-step into a callee from its end,
# and forward again over output already written.
break sum
run
continue
continue
continue
backtrace
reverse-continue
backtrace
info args
rc
reverse-finish
info locals
next
next
next
print s
reverse-step
reverse-step
reverse-next
rs
info record
continue
continue
next
next
next
next
reverse-stepi 3
continue
reverse-continue
next
next
next
next
next
continue
