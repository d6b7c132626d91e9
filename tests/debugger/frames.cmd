run
backtrace
info frame
up
info frame
list inverse
set var $bp = 0xfffe
backtrace
