# Locations: lines out of range, paths to the source, list.
break 0
break -3
break ./places.vxl:16
break @DIR@/places.vxl:17
break other/places.vxl:16
list places.vxl:5
list twice
list
list 99
break 7
run
watch a[n]
info breakpoints
bt 1
up
list
frame 0
list
# Arguments the commands do not take.
finish 2
kill now
info locals now
continue x
step -1
