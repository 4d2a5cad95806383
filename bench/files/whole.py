# A text file read whole and written back.
with open("data.txt", encoding="utf-8", newline="") as source:
    text = source.read()
with open("whole.txt", "w", encoding="utf-8", newline="") as copy:
    copy.write(text)
print(len(text))
