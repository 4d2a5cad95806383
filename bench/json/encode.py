# 10 MB of JSON decoded and written back compact (the data is written by prepare.py).
import json

with open("data.json", encoding="utf-8") as data:
    records = json.loads(data.read())
text = json.dumps(records, ensure_ascii=False, separators=(",", ":"))
with open("out.json", "w", encoding="utf-8") as out:
    out.write(text)
print(len(records))
