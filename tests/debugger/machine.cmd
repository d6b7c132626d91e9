# Machine level: no debug file.
print x
break *6
break *0x0b
info breakpoints
run
info registers
x $sp 3
continue
stepi
stepi 2
x/3d 0xfffd
info registers GR1 flags
delete 1
continue
backtrace
continue
run
kill
step
