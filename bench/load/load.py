# The records of the data file, decoded from JSON (the data is written by prepare.py).
import json

with open("load.json", encoding="utf-8") as data:
    records = json.loads(data.read())
print(len(records))
