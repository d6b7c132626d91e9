# A runtime error stops the program at its line with its frames.
run
backtrace
print parts
up
print parts
continue
next
run < /dev/null
