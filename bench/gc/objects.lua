-- A field set to nil is no field in Lua: false stands for none.
local o = {}
for i = 1, 1000000 do
  o[i] = {x = false}
end
print(#o)
