import zlib

with open("text.txt", "rb") as data:
    text = data.read()
packed = zlib.compress(text, 1, 31)
print(len(text))
