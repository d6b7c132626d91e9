-- Three nested counting loops with a running sum kept small.
local s = 0
for i = 0, 299 do
  for j = 0, 99 do
    for k = 0, 99 do
      s = s + i + j + k
      if s > 10000 then s = s - 10000 end
    end
  end
end
print(s)
