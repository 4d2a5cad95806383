# 10 MB of JSON decoded (the data is written by prepare.py).
import json

with open("data.json", encoding="utf-8") as data:
    records = json.loads(data.read())
print(len(records))
