# Watchpoints backwards: from the end of the run, reverse-continue stops
# before each write to the watched variable, the last first; a change made
# by hand in the past forgets the recorded future.
break 16
run
watch total
reverse-continue
print k
reverse-continue
print k
reverse-continue
reverse-continue
backtrace
reverse-step
info args
delete
finish
next
print total
print total := 100
info record
continue
