import hashlib

with open("text.txt", "rb") as data:
    text = data.read()
for _ in range(4):
    digest = hashlib.sha256(text).hexdigest()
print(digest)
