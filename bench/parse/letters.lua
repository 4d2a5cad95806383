local text = string.rep("The quick brown fox jumps over the lazy dog; 1234 pack my box with five dozen liquor jugs! Hi, ok.. ", 50000)
local runs = 0
for _ in text:gmatch("[A-Za-z]+") do
  runs = runs + 1
end
print(runs)
