# The stack check stops the run before the stack wraps around memory: the
# globals are intact and the outermost frame is start.
run
print guard
print calls
frame 1
frame 636
frame 637
