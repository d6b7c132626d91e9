-- Product of two 30 x 30 matrices kept in one-dimensional arrays, 30 times;
-- prints a checksum of the products.
local a, b, c = {}, {}, {}

local function multiply(n)
  for i = 0, n - 1 do
    for j = 0, n - 1 do
      local s = 0
      for k = 0, n - 1 do
        s = s + a[i * n + k] * b[k * n + j]
      end
      c[i * n + j] = s
    end
  end
end

local n, sum = 30, 0
for round = 0, 29 do
  for i = 0, n * n - 1 do
    a[i] = (i * 7 + round) % 10
    b[i] = (i * 3 + 1) % 9
  end
  multiply(n)
  for i = 0, n * n - 1 do
    sum = (sum + c[i]) % 10000
  end
end
print(sum)
