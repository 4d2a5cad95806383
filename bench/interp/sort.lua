local x = 42
local b = {}
for i = 1, 1000000 do
  x = (x * 16807) % 2147483647
  b[i] = x % 1000000
end
table.sort(b)
print(b[1] .. " " .. b[500001] .. " " .. b[1000000])
