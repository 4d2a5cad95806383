# A 10 MB CSV file read into rows of fields and written back as CSV, with LF line ends as Oka writes.
import csv
import io

with open("data.csv", encoding="utf-8", newline="") as source:
    rows = list(csv.reader(source))
text = io.StringIO()
csv.writer(text, lineterminator="\n").writerows(rows)
text = text.getvalue()
with open("copy.csv", "w", encoding="utf-8", newline="") as copy:
    copy.write(text)
print(len(rows))
