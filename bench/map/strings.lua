local m = {}
for i = 1, 1000000 do
  m[tostring(i)] = i
end
local found, count = 0, 0
for i = 1, 1000000 do
  if m[tostring(i)] ~= nil then found = found + 1 end
end
for i = 1, 500000 do
  m[tostring(i * 2)] = nil
end
-- A table keeps no count of its keys: they are counted.
for _ in pairs(m) do count = count + 1 end
print(found .. " " .. count)
