# Breakpoints, step/next/finish through a recursion, frames.
break sum
info breakpoints
run
backtrace
step
step
step
step
backtrace
info args
up
info args
print n
down
finish
finish
next
next
info locals
step
continue
