# The walk-through of docs/debugging.md (its rank.vxl).
break 16 if pass = 2
run
info locals
print scores
print count - pass - 1
print scores[3]@2
watch scores[4]
delete 1
continue
