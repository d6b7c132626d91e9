# Mistakes get one line each on standard error; the session goes on.
frobnicate
s
st
next
print nothing
break 99
break nothere
break other.vxl:3
list 99
break share
run
print n[1]
print total[0]
set var total = 70000
set var total
x
info
info nothing
frame 7
quit
print total
