import re

text = "The quick brown fox jumps over the lazy dog; 1234 pack my box with five dozen liquor jugs! Hi, ok.. " * 50000
print(len(re.findall(r"[A-Za-z]+", text)))
