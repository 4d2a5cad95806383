-- A text file read as lines and written back line by line.
local lines, count = {}, 0
for line in io.lines("data.txt") do
  count = count + 1
  lines[count] = line
end
local copy = assert(io.open("lines.txt", "wb"))
for i = 1, count do
  copy:write(lines[i], "\n")
end
copy:close()
print(count)
