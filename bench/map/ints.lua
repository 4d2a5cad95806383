local m = {}
for i = 1, 200000 do
  m[i] = i % 100
end
local s = 0
for i = 1, 200000 do
  s = s + m[i]
end
print(s)
