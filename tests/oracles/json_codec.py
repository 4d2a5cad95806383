#!/usr/bin/env python3
"""load-json and to-json against JSONTestSuite's parsing cases and python3's json module, which nobody
here wrote.

    json_codec.py OKA SUITE [--quick]

- Every case of the suite (SUITE, a folder of y_, n_ and i_ files): y_ must decode, and what to-json
  writes of it must read in python3 as the file itself does; n_ must be refused (an error! value
  returned, or an error raised); i_ may go either way. No case may crash or hang the program.
- A table of values: python3 writes each in several forms (ASCII only or not, indented or not), Oka reads
  it and writes it back compact, ASCII only and pretty, and python3 reads all three as the value it
  started from.
- About 10 MB of generated records go through a file both ways.
Fails with the first differences it finds. The 10 MB data is left out with --quick (for builds that are
slow by design, such as the sanitizers') and under the collector's stress mode (OKA_GC_STRESS), which
tests the collector, not the codec."""
import base64
import json
import math
import os
import random
import subprocess
import sys
import tempfile

OKA = os.path.abspath(sys.argv[1])
SUITE = os.path.abspath(sys.argv[2])
QUICK = "--quick" in sys.argv[3:] or bool(os.environ.get("OKA_GC_STRESS"))
BIG = 10_000_000


def run_oka(folder, lines):
    """Runs the lines as a script in `folder`; the lines it printed."""
    path = os.path.join(folder, "case.oka")
    with open(path, "w", encoding="utf-8") as script:
        script.write("Oka []\n" + "\n".join(lines) + "\n")
    result = subprocess.run([OKA, path], capture_output=True, cwd=folder, timeout=1200)
    printed = result.stdout.decode("utf-8").split("\n")
    if result.returncode != 0:
        sys.exit(f"oka failed ({result.returncode}) after:\n" + "\n".join(printed[-5:]) +
                 result.stderr.decode("utf-8", "replace")[-2000:])
    return printed[:-1]


def oka_string(text):
    """Text as an Oka string literal: caret escapes for what a literal cannot hold as it is."""
    escaped = "".join(f"^({ord(c):X})" if ord(c) < 32 or c in '"^' else c for c in text)
    return '"' + escaped + '"'


def same(a, b):
    """Equal as JSON values: numbers by value (Oka reads integers beyond 32 bits as floats)."""
    if isinstance(a, bool) or isinstance(b, bool):
        return a is b
    if isinstance(a, (int, float)) and isinstance(b, (int, float)):
        return a == b or (math.isclose(a, b, rel_tol=1e-15) and isinstance(a, int) != isinstance(b, int))
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    return type(a) is type(b) and a == b


def suite_failures(folder):
    """Each case's bytes read as UTF-8 and decoded; what is accepted printed as JSON again (ASCII only,
    so that every line prints as it is)."""
    cases = sorted(name for name in os.listdir(SUITE) if name.endswith(".json"))
    lines = [f'r: try [load-json to string! read/binary %"{os.path.join(SUITE, name)}"] '
             'w: either error? r ["refused"] [try [append copy "accepted " to-json/ascii r]] '
             'print either error? w ["unwritable"] [w]' for name in cases]
    printed = run_oka(folder, lines)
    wrong = [] if len(printed) == len(cases) else [f"{len(printed)} verdicts for {len(cases)} cases"]
    for name, verdict in zip(cases, printed):
        accepted = verdict.startswith("accepted ")
        if name.startswith("n_") and accepted:
            wrong.append(f"{name}: accepted {verdict[9:80]}")
        if name.startswith("n_") and verdict == "unwritable":
            wrong.append(f"{name}: accepted")
        if name.startswith("y_") and not accepted:
            wrong.append(f"{name}: refused")
        if name.startswith("y_") and accepted:
            with open(os.path.join(SUITE, name), "rb") as case:
                expected = json.loads(case.read().decode("utf-8"))
            if not same(json.loads(verdict[9:]), expected):
                wrong.append(f"{name}: wrote {verdict[9:80]}")
    return wrong


VALUES = [
    None, True, False, 0, 1, -1, 2**31 - 1, -2**31, 2**31, -2**40, 10**30,
    0.5, -0.0, 1e-300, 5e-324, 1.7976931348623157e308, 0.1 + 0.2, 123456.789, -2.5e-7,
    "", "a", "é", "€", "😀", "\u0000\u001f\"\\/\b\f\n\r\t", "\u007f\u0080\u2028\uffff", "a" * 1000,
    [], {}, [[[]]], [1, "two", 3.0, None, [True, False]],
    {"a": {"b": [1, {"c": None}]}, "d": []},
    {"x y": 1, "1": 2, "": 3, "a-b": 4, "é": 5, "A": 6, "a": 7, "key\n": 8},
]

FORMS = [
    ("ascii", {}),
    ("utf-8", {"ensure_ascii": False}),
    ("indented", {"indent": 2}),
    ("tabbed", {"indent": "\t", "ensure_ascii": False}),
    ("tight", {"separators": (",", ":")}),
]

WRITERS = ["to-json v", "to-json/ascii v", 'to-json/pretty v "  "']


def value_failures(folder):
    cases = [(value, form, json.dumps(value, **options)) for value in VALUES for form, options in FORMS]
    lines = [f"v: load-json {oka_string(text)} foreach w [{' '.join(f'[{w}]' for w in WRITERS)}] "
             "[print enbase to binary! do w]" for _, _, text in cases]
    printed = iter(run_oka(folder, lines))
    wrong = []
    for value, form, text in cases:
        for writer in WRITERS:
            written = base64.b64decode(next(printed)).decode("utf-8")
            if writer == "to-json/ascii v" and not written.isascii():
                wrong.append(f"{text[:40]} ({form}): {writer} wrote {written[:60]!r}")
            if not same(json.loads(written), value):
                wrong.append(f"{text[:40]} ({form}): {writer} wrote {written[:60]!r}")
    return wrong


def records(size):
    """Records of every kind of value, with escapes and characters beyond ASCII, to about `size` bytes."""
    rng = random.Random(20241210)
    letters = "abcdefghijklmnopqrstuvwxyz" + "éü€😀\n\t\"\\/"
    out, total = [], 0
    while total < size:
        word = "".join(rng.choice(letters) for _ in range(rng.randint(0, 12)))
        item = {
            "id": len(out), "name": word, "score": rng.uniform(-1e6, 1e6), "tiny": rng.random() * 1e-200,
            "big": rng.randint(-2**31, 2**31 - 1), "ok": rng.random() < 0.5, "none": None,
            "tags": [word[::-1], word.upper()] * rng.randint(0, 2),
            "nested": {"list": [rng.randint(0, 9) for _ in range(rng.randint(0, 6))], "word": word},
        }
        out.append(item)
        total += len(json.dumps(item))
    return out


def big_failures(folder):
    data = records(BIG)
    with open(os.path.join(folder, "big.json"), "w", encoding="utf-8") as out:
        json.dump(data, out, ensure_ascii=False)
    printed = run_oka(folder, ["data: load-json read %big.json", "write %back.json to-json data",
                               "print length? data"])
    with open(os.path.join(folder, "back.json"), encoding="utf-8") as back:
        written = json.load(back)
    if printed != [str(len(data))] or not same(written, data):
        return [f"10 MB of records: printed {printed[:1]}, read back the same: {same(written, data)}"]
    return []


def main():
    with tempfile.TemporaryDirectory() as folder:
        wrong = suite_failures(folder) + value_failures(folder)
        if not QUICK:
            wrong += big_failures(folder)
    if wrong:
        sys.exit("\n".join(wrong[:40]))
    print("the JSON codec agrees with JSONTestSuite and python3's json")


main()
