# Loops and an array, backwards: reverse-next over loop passes, the array
# as it was, reverse-continue to a breakpoint in an earlier loop, and
# forward again without writing the output twice; then back to a
# conditional breakpoint.
break 15
run
continue 3
print sum
print squares
reverse-next
reverse-next
print i
print sum
break 8
reverse-continue
print i
print squares
rc
print i
print squares[2]@4
rc
print i
print squares
rc
print i
print squares
delete
next
next
next
next
continue
break 7 if i = 5
reverse-continue
print i
