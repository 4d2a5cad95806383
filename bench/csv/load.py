# A 10 MB CSV file read into rows of fields.
import csv

with open("data.csv", encoding="utf-8", newline="") as source:
    rows = list(csv.reader(source))
print(len(rows), len(rows[0]))
