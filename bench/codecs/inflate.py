import zlib

with open("chunk.gz", "rb") as data:
    packed = data.read()
print(sum(len(zlib.decompress(packed, 31)) for _ in range(20)))
