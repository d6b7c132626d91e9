# Stepping out of a function goes on to the caller's next line start.
break twice
run
next 3
step
step
finish
delete
# next N counts the stops it makes, not the returns.
break 16
continue
next 3
info locals
# continue N passes the breakpoint N-1 more times.
continue 2
info locals
# Two watchpoints of one frame end together, in one stop.
delete
break twice if n = 2
run
watch k
watch m
continue
continue
continue
# One write seen by several watchpoints is one stop.
delete
break 18
continue
watch g
watch g
watch a[0]
watch a
continue
continue
continue
