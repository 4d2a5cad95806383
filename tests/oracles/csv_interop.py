#!/usr/bin/env python3
"""The CSV reader and writer against data that nobody here wrote: the csv-spectrum cases and python3's
csv module.

    csv_interop.py OKA SPECTRUM [--quick]

- every case of csv-spectrum (SPECTRUM: its csvs/ and json/ folders; skipped where it is missing) read
  with load-csv/header/as-records gives the records of its JSON file; where the case's JSON disagrees
  with its own CSV file (its location_coordinates case holds another phone number in each), python3's
  csv module reads the CSV file and load-csv must agree with that;
- what python3's csv writer writes of a table of awkward values (quotes, delimiters, line breaks, CR,
  blanks, empty fields, non-ASCII text), with the comma and with a semicolon, load-csv reads as that
  table;
- what to-csv writes of that table, python3's csv reader reads as that table;
- a generated file of 10 MB written by python3 goes through load-csv and to-csv and python3 reads back
  what it wrote. It is left out with --quick (for the sanitizer build) and under the collector's
  stress mode (OKA_GC_STRESS), which test the collector, not the codec.
Oka hands its fields back as base 64 of their UTF-8 bytes, so that no text of its own molds is
parsed here. Fails with the first differences it finds."""
import base64
import csv
import json
import os
import random
import subprocess
import sys
import tempfile

OKA = os.path.abspath(sys.argv[1])
SPECTRUM = sys.argv[2]
QUICK = "--quick" in sys.argv[3:] or bool(os.environ.get("OKA_GC_STRESS"))
BIG = 10_000_000

# Oka code that prints each row of `rows` (blocks of strings) as one line of base 64 fields, each
# after a "|" so that empty fields stay visible.
PRINT_ROWS = """
foreach row rows [
    line: copy ""
    foreach field row [append append line "|" enbase/base to binary! field 64]
    print line
]
"""


def run_oka(folder, code):
    script = os.path.join(folder, "run.oka")
    with open(script, "w", encoding="utf-8") as f:
        f.write("Oka []\n" + code)
    done = subprocess.run([OKA, script], capture_output=True, cwd=folder, timeout=3600)
    if done.returncode != 0:
        sys.exit(f"oka failed ({done.returncode}):\n{done.stdout.decode()}{done.stderr.decode()}")
    return done.stdout.decode()


def rows_printed(text):
    return [[base64.b64decode(field).decode() for field in line.split("|")[1:]] for line in text.splitlines()]


def oka_file(path):
    return "%" + path.replace(" ", "%20")


def first_difference(expected, actual):
    for i, (e, a) in enumerate(zip(expected, actual)):
        if e != a:
            return f"row {i + 1}: expected {e!r}, got {a!r}"
    return f"expected {len(expected)} rows, got {len(actual)}"


def check(what, expected, actual):
    if expected != actual:
        sys.exit(f"{what}: {first_difference(expected, actual)}")


def spectrum(folder):
    if not os.path.isdir(os.path.join(SPECTRUM, "csvs")):
        print(f"csv-spectrum: no cases at {SPECTRUM}, skipped")
        return
    names = sorted(n[:-4] for n in os.listdir(os.path.join(SPECTRUM, "csvs")) if n.endswith(".csv"))
    for name in names:
        path = os.path.join(SPECTRUM, "csvs", name + ".csv")
        with open(os.path.join(SPECTRUM, "json", name + ".json"), encoding="utf-8") as f:
            records = json.load(f)
        if isinstance(records, dict):
            records = [records]
        with open(path, newline="", encoding="utf-8") as f:
            python_records = list(csv.DictReader(f))
        if records != python_records:
            print(f"csv-spectrum {name}: its JSON disagrees with its CSV file; python3's csv module is the oracle")
            records = python_records
        expected = [[text for pair in record.items() for text in pair] for record in records]
        code = f"records: load-csv/header/as-records read {oka_file(path)}\n"
        code += "rows: copy [] foreach record records [append/only rows collect-pairs: copy [] "
        code += "foreach [key value] record [append append collect-pairs key value]]\n" + PRINT_ROWS
        check(f"csv-spectrum {name}", expected, rows_printed(run_oka(folder, code)))


AWKWARD = ["", " ", "plain", "a,b", "a;b", 'say "hi"', '"', '""', "line\nbreak", "cr\ronly", "crlf\r\nend",
           " padded ", "é€𝄞", "tab\there", "'apostrophe'", "trailing,", ",", "\n"]


def table():
    rng = random.Random(20261210)
    rows = [AWKWARD[i:i + 6] for i in range(0, len(AWKWARD), 6)]
    rows += [[rng.choice(AWKWARD) + rng.choice(AWKWARD) for _ in range(6)] for _ in range(200)]
    rows += [[""] * 6]
    return rows


def oka_rows(rows):
    """Oka code that makes the block `rows` of the strings of `rows`."""
    code = "rows: copy []\n"
    for row in rows:
        fields = " ".join(f'to string! debase/base "{base64.b64encode(f.encode()).decode()}" 64' for f in row)
        code += f"append/only rows reduce [{fields}]\n"
    return code


def python_writes(folder, rows):
    for delimiter, refinement in ((",", ""), (";", "/with")):
        path = os.path.join(folder, "python.csv")
        with open(path, "w", newline="", encoding="utf-8") as f:
            csv.writer(f, delimiter=delimiter).writerows(rows)
        argument = f' #"{delimiter}"' if refinement else ""
        code = f"rows: load-csv{refinement} read {oka_file(path)}{argument}\n" + PRINT_ROWS
        check(f"load-csv of python3's csv ({delimiter!r})", rows, rows_printed(run_oka(folder, code)))


def python_reads(folder, rows):
    path = os.path.join(folder, "oka.csv")
    run_oka(folder, oka_rows(rows) + f"write {oka_file(path)} to-csv rows\n")
    with open(path, newline="", encoding="utf-8") as f:
        check("python3's csv reading to-csv", rows, list(csv.reader(f)))


def big_file(folder):
    rng = random.Random(7)
    rows, size = [], 0
    while size < BIG:
        row = [rng.choice(AWKWARD) if rng.random() < 0.2 else "".join(
            rng.choice("abcdefghijklmnopqrstuvwxyz0123456789") for _ in range(rng.randint(0, 12))) for _ in range(8)]
        rows.append(row)
        size += sum(len(field) for field in row) + 9
    source = os.path.join(folder, "big.csv")
    copy = os.path.join(folder, "big-copy.csv")
    with open(source, "w", newline="", encoding="utf-8") as f:
        csv.writer(f).writerows(rows)
    run_oka(folder, f"write {oka_file(copy)} to-csv load-csv read {oka_file(source)}\n")
    with open(copy, newline="", encoding="utf-8") as f:
        check("a 10 MB file through load-csv and to-csv", rows, list(csv.reader(f)))


def main():
    with tempfile.TemporaryDirectory() as folder:
        spectrum(folder)
        rows = table()
        python_writes(folder, rows)
        python_reads(folder, rows)
        if not QUICK:
            big_file(folder)
    print("csv: all agree")


main()
