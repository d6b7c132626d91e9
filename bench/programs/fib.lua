-- Recursive Fibonacci numbers: fib(22) 40 times.
local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end
local sum = 0
for i = 0, 39 do
  sum = (sum + fib(22)) % 10000
end
print(sum)
