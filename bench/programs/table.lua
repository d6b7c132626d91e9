-- An output-heavy table: 1.2 million lines of numbers and texts.
local write = io.write
for i = 0, 1199 do
  for j = 0, 999 do
    write(i, " * ", j, " mod 97 = ", (i % 97) * (j % 97) % 97, "\n")
  end
end
