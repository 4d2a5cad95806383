import hashlib

with open("text.txt", "rb") as data:
    print(hashlib.sha256(data.read()).hexdigest())
