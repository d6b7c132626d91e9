-- The n queens for n = 9, 6 times: backtracking with three arrays of
-- occupied columns and diagonals.
local used, up, down = {}, {}, {}
local solutions = 0

local function place(row, n)
  if row == n then
    solutions = solutions + 1
    return
  end
  for col = 0, n - 1 do
    if not used[col] and not up[row + col] and not down[row - col + n - 1] then
      used[col] = true
      up[row + col] = true
      down[row - col + n - 1] = true
      place(row + 1, n)
      used[col] = false
      up[row + col] = false
      down[row - col + n - 1] = false
    end
  end
end

for i = 0, 16 do
  up[i] = false
  down[i] = false
end
for i = 0, 8 do used[i] = false end
for round = 0, 5 do place(0, 9) end
print(solutions)
