# A text file read as lines and written back line by line.
with open("data.txt", encoding="utf-8", newline="") as source:
    lines = source.read().split("\n")
if lines[-1] == "":
    lines.pop()
with open("lines.txt", "w", encoding="utf-8", newline="") as copy:
    copy.writelines(line + "\n" for line in lines)
print(len(lines))
