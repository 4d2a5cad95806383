import zlib

with open("text.gz", "rb") as data:
    print(len(zlib.decompress(data.read(), 31)))
