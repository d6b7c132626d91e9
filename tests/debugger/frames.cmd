run
backtrace
info frame
up
info frame
list inverse
