# The walk-through of docs/debugging.md (its rank.vxl).
break 16
run
info locals
print scores
display i
display pass
continue
continue
continue
print scores
watch scores[4]
delete 1
continue
