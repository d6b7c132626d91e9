-- Collatz trajectories of the numbers below 4000, 8 times: the steps
-- until 1, a trajectory counted as ended once it exceeds 10000.
-- (LuaJIT has no // operator: the halving is math.floor(n / 2).)
local function steps(n)
  local count = 0
  while n ~= 1 and n <= 10000 do
    if n % 2 == 0 then
      n = math.floor(n / 2)
    else
      n = 3 * n + 1
    end
    count = count + 1
  end
  return count
end

local total = 0
for round = 0, 7 do
  for i = 1, 3999 do
    total = (total + steps(i)) % 10000
  end
end
print(total)
