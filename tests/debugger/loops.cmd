# A breakpoint on the first body line of each loop fires on every pass.
break 7
break 11
break 15
break 18
run
continue
continue
continue
continue
continue
continue
continue
continue
continue
continue
continue
continue
# Stepping through a do-while stops on its first line every pass.
delete
break 9
run
next
next
next
next
next
next
next
next
next
