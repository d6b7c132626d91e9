# print of scalars, elements and arrays; set var; watch; display; x.
print squares
break 10
run
print squares
print squares[3]
print/x squares[11]
print squares[i]
print squares[12]
print done
print i
print $sp
x &squares[2] 3
watch sum
display i
continue
continue
set var sum = 100
set var squares[2] = -1
print squares
delete
watch done
continue
continue
