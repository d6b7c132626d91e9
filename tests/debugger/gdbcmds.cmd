# Conditional and temporary breakpoints, ignore counts, disable/enable.
info functions
info variables
info line 17
info line sum
tbreak 17 if i = 5
start
run
info breakpoints
print i
print table[i - 1] * 2 + 1
print table[2]@3
print $
print $$2
print $1 + 1
print/x 255
print/t 10
print/o 8
print/c 65
print/u -1
print i = 5 and not found
print i + true
print sum(2)
print i := 6
print i
set var found = 5
set var i = true
set var found = true
ptype table
whatis found
ptype sum
whatis i * 2
ptype limit
display/x i
break sum if n < 3
break nothing if n = 0
break sum if total = 0
ignore 3 1
break 11
disable 4
info breakpoints
continue
condition 3
enable 4
continue
info frame
bt 2
bt -1
bt full
delete
until
until
advance 22
print table[7] := 72
print table[6] := 105
print table[5] := 0
x/s &table[7]
kill
help until
help info
info line 6
