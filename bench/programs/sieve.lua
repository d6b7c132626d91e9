-- Sieve of Eratosthenes below 8000, 100 times; counts the primes.
local composite = {}
local count
for round = 0, 99 do
  for i = 0, 7999 do composite[i] = false end
  count = 0
  for i = 2, 7999 do
    if not composite[i] then
      count = count + 1
      for j = i + i, 7999, i do composite[j] = true end
    end
  end
end
print(count)
