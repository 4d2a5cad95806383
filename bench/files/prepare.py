"""Writes the data of the files benchmarks into the folder given as argument: data.txt, about 200 MB of
text in lines of 1 to 20 words (ASCII, LF line ends), from a fixed seed, so every run reads the same
file. Each benchmark reads it and writes a copy, whole.txt or lines.txt, into the same folder."""
import os
import random
import sys

TARGET_BYTES = 200_000_000
LETTERS = "abcdefghijklmnopqrstuvwxyz"


def generate(path):
    rng = random.Random(20241210)
    words = ["".join(rng.choice(LETTERS) for _ in range(rng.randint(1, 10))) for _ in range(5000)]
    size = 0
    with open(path, "w", encoding="ascii", newline="\n") as out:
        while size < TARGET_BYTES:
            lines = "".join(" ".join(rng.choices(words, k=rng.randint(1, 20))) + "\n" for _ in range(10000))
            out.write(lines)
            size += len(lines)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    data = os.path.join(folder, "data.txt")
    for name in ("whole", "lines"):
        with open(os.path.join(folder, name + ".data"), "w", encoding="utf-8") as out:
            out.write("".join(f"{extension} data.txt\n" for extension in (".oka", ".py", ".lua", ".tcl", ".pl")))
    if not (os.path.exists(data) and os.path.getmtime(data) >= os.path.getmtime(__file__)):
        generate(data)


main()
