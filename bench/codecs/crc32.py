import zlib

with open("text.txt", "rb") as data:
    crc = zlib.crc32(data.read())
print(crc - (1 << 32) if crc >> 31 else crc)  # as a 32-bit integer
