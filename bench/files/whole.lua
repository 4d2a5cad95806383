-- A text file read whole and written back.
local source = assert(io.open("data.txt", "rb"))
local text = source:read("a")
source:close()
local copy = assert(io.open("whole.txt", "wb"))
copy:write(text)
copy:close()
print(#text)
