-- Bubble sort of 600 pseudo-random numbers, 20 times over.
local a = {}
local sum = 0
for round = 0, 19 do
  local x = round
  for i = 0, 599 do
    x = (x * 31 + 7) % 1021
    a[i] = x
  end
  for i = 0, 598 do
    for j = 0, 598 - i do
      if a[j] > a[j + 1] then
        local t = a[j]
        a[j] = a[j + 1]
        a[j + 1] = t
      end
    end
  end
  sum = (sum + a[0] + a[300] + a[599]) % 10000
end
print(sum)
