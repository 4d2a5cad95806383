-- Lua strings are immutable: a string is grown through a buffer of pieces, as Lua code does it.
local pieces = {}
for i = 1, 1000000 do
  pieces[i] = "ab"
end
local s = table.concat(pieces)
print(#s)
