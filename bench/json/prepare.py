"""Writes the data of the JSON benchmarks into the folder given as argument: data.json, about 10 MB of
records (objects, arrays, strings with escapes and characters beyond ASCII, integers, floats, true,
false and null) from a fixed seed, so every run reads the same data. decode reads it; encode reads it
and writes it back as out.json."""
import json
import os
import random
import sys

TARGET_BYTES = 10_000_000
LETTERS = "abcdefghijklmnopqrstuvwxyz"


def text(rng, low, high):
    words = ("".join(rng.choice(LETTERS) for _ in range(rng.randint(2, 9))) for _ in range(rng.randint(low, high)))
    line = " ".join(words)
    return line + rng.choice(["", "", "", " \"quoted\"", " caf\u00e9", "\ttab", " line\nbreak", " \u20ac5"])


def record(rng, number):
    return {
        "id": number,
        "name": text(rng, 1, 3),
        "score": round(rng.uniform(-1000, 1000), 2),
        "ratio": rng.random(),
        "active": rng.random() < 0.5,
        "parent": None if rng.random() < 0.7 else rng.randint(1, number),
        "tags": [text(rng, 1, 1) for _ in range(rng.randint(0, 5))],
        "position": {"x": rng.randint(-500, 500), "y": rng.randint(-500, 500)},
        "history": [{"step": step, "value": rng.randint(0, 10**6), "note": text(rng, 0, 4)}
                    for step in range(rng.randint(1, 4))],
    }


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    data = os.path.join(folder, "data.json")
    for name in ("decode", "encode"):
        with open(os.path.join(folder, name + ".data"), "w", encoding="utf-8") as out:
            out.write(".oka data.json\n.py data.json\n")
    if os.path.exists(data) and os.path.getmtime(data) >= os.path.getmtime(__file__):
        return
    rng = random.Random(20241210)
    records, size = [], 0
    while size < TARGET_BYTES:
        records.append(record(rng, len(records) + 1))
        size += len(json.dumps(records[-1], ensure_ascii=False).encode())
    with open(data, "w", encoding="utf-8") as out:
        json.dump(records, out, ensure_ascii=False, separators=(",", ":"))


main()
