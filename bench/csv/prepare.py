"""Writes the data of the CSV benchmarks into the folder given as argument: about 10 MB of rows of
eight fields as CSV, data.csv, as python3's csv module writes it (CR LF line ends, quotes where a
field needs them). Most fields are short words and numbers; one in five holds a quote, a comma, a
line break, a blank or non-ASCII text. The rows come from a fixed seed, so every run reads the same
data."""
import csv
import os
import random
import sys

TARGET_BYTES = 10_000_000
PLAIN = "abcdefghijklmnopqrstuvwxyz0123456789"
AWKWARD = ['say "hi"', "a,b", "two\nlines", " padded ", "é€", "", "x"]


def field(rng):
    if rng.random() < 0.2:
        return rng.choice(AWKWARD)
    return "".join(rng.choice(PLAIN) for _ in range(rng.randint(0, 12)))


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "data.csv")
    with open(os.path.join(folder, "load.data"), "w", encoding="utf-8") as out:
        out.write(".oka data.csv\n.py data.csv\n")
    with open(os.path.join(folder, "roundtrip.data"), "w", encoding="utf-8") as out:
        out.write(".oka data.csv\n.py data.csv\n")
    if os.path.exists(path) and os.path.getmtime(path) >= os.path.getmtime(__file__):
        return
    rng = random.Random(20261210)
    size = 0
    with open(path, "w", newline="", encoding="utf-8") as out:
        writer = csv.writer(out)
        while size < TARGET_BYTES:
            row = [field(rng) for _ in range(8)]
            writer.writerow(row)
            size += sum(len(f) for f in row) + 9


main()
