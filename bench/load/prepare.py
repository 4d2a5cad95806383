"""Writes the data of the load benchmark into the folder given as argument: about 10 MB of records
(nested blocks, strings, integers, floats and words) as an Oka script, load.oka, and the same records
as JSON, load.json. The records come from a fixed seed, so every run loads the same data."""
import json
import os
import random
import sys

TARGET_BYTES = 10_000_000
LETTERS = "abcdefghijklmnopqrstuvwxyz"


class Word(str):
    """A word in Oka; JSON has no words, so there it is a string."""


def text(rng, low, high):
    return " ".join("".join(rng.choice(LETTERS) for _ in range(rng.randint(2, 9)))
                    for _ in range(rng.randint(low, high)))


def record(rng, number):
    return {
        "id": number,
        "name": text(rng, 1, 3),
        "score": round(rng.uniform(-1000, 1000), 2),
        "active": rng.random() < 0.5,
        "kind": Word(rng.choice(["circle", "square", "line", "text", "group"])),
        "tags": [text(rng, 1, 1) for _ in range(rng.randint(0, 5))],
        "position": {"x": rng.randint(-500, 500), "y": rng.randint(-500, 500)},
        "history": [{"step": step, "value": rng.randint(0, 10**6), "note": text(rng, 0, 4)}
                    for step in range(rng.randint(1, 4))],
    }


def oka(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, Word):
        return str(value)
    if isinstance(value, str):
        return '"' + value + '"'
    if isinstance(value, (int, float)):
        return repr(value)
    if isinstance(value, dict):
        return "[" + " ".join(f"{key}: {oka(item)}" for key, item in value.items()) + "]"
    return "[" + " ".join(oka(item) for item in value) + "]"


def generate():
    rng = random.Random(20240501)
    records, lines, size = [], [], 0
    while size < TARGET_BYTES:
        records.append(record(rng, len(records) + 1))
        lines.append("    " + oka(records[-1]) + "\n")
        size += len(lines[-1])
    return records, "Oka []\ndata: [\n" + "".join(lines) + "]\nprint length? data\n"


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    script, data = os.path.join(folder, "load.oka"), os.path.join(folder, "load.json")
    with open(os.path.join(folder, "load.data"), "w", encoding="utf-8") as out:
        out.write(".oka load.oka\n.py load.json\n")
    if all(os.path.exists(p) and os.path.getmtime(p) >= os.path.getmtime(__file__) for p in (script, data)):
        return
    records, source = generate()
    with open(data, "w", encoding="utf-8") as out:
        json.dump(records, out)
    with open(script, "w", encoding="utf-8") as out:
        out.write(source)


main()
