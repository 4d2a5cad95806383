-- Lua has no repeat-a-value constructor: each list is filled by a loop, as Lua code does it.
local b = {}
for i = 1, 400 do
  local ones = {}
  for j = 1, 100000 do
    ones[j] = 1
  end
  b[i] = ones
end
print(#b .. " " .. #b[#b])
