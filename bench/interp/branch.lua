local n = 0
for i = 1, 3000000 do
  if i % 3 == 0 then
    n = n + 3
  else
    n = n - 1
  end
end
print(n)
