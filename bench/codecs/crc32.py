import zlib

with open("text.txt", "rb") as data:
    text = data.read()
for _ in range(4):
    crc = zlib.crc32(text)
print(crc - (1 << 32) if crc >> 31 else crc)  # as a 32-bit integer
