"""Writes the data of the codecs benchmarks into the folder given as argument: text.txt, 20 MB of text
whose words follow the skewed frequencies of a natural language (so that it compresses as text does),
and text.gz, that text compressed by python3's gzip module at its default level, which every
decompressing script reads. The text comes from a fixed seed, so every run works on the same data."""
import gzip
import itertools
import os
import random
import sys

TARGET_BYTES = 20_000_000
SYLLABLES = ["ka", "to", "ri", "mo", "na", "se", "lu", "pe", "di", "ga", "vo", "chi", "an", "el", "or", "us"]


def generate():
    rng = random.Random(20240611)
    words = ["".join(rng.choice(SYLLABLES) for _ in range(rng.randint(1, 4))) for _ in range(20000)]
    weights = list(itertools.accumulate(1 / (rank + 1) for rank in range(len(words))))
    drawn = rng.choices(words, cum_weights=weights, k=TARGET_BYTES // 5)
    sentences = (" ".join(drawn[i:i + 11]).capitalize() + ". " + ("\n" if i % 7 == 0 else "")
                 for i in range(0, len(drawn), 11))
    return "".join(sentences).encode()[:TARGET_BYTES]


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    text, packed = os.path.join(folder, "text.txt"), os.path.join(folder, "text.gz")
    with open(os.path.join(folder, "deflate.data"), "w", encoding="utf-8") as out:
        out.write("".join(f"{extension} text.txt\n" for extension in (".oka", ".py", ".sh")))
    with open(os.path.join(folder, "inflate.data"), "w", encoding="utf-8") as out:
        out.write("".join(f"{extension} text.gz\n" for extension in (".oka", ".py", ".sh")))
    if all(os.path.exists(p) and os.path.getmtime(p) >= os.path.getmtime(__file__) for p in (text, packed)):
        return
    data = generate()
    with open(text, "wb") as out:
        out.write(data)
    with open(packed, "wb") as out:
        out.write(gzip.compress(data, mtime=0))


main()
