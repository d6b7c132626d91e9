# step out of one(1) steps on into one(2); next out of it ends the line.
break start
run
step
step
step
step
next
next
info locals
