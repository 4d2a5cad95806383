"""Writes the data and the Oka scripts of the codecs benchmarks into the folder given as argument.

The data is 20 MB of text whose words follow the skewed frequencies of a natural language (so that it
compresses as text does): a chunk of 1 MB repeated 20 times. DEFLATE looks back at most 32 KiB, so
the repeats compress as fresh text would. Files: chunk.txt, the chunk; text.txt, the 20 MB; chunk.gz,
the chunk compressed by python3's gzip module at its default level (dynamic blocks); text.gz, 20
copies of it, one gzip member each, which gzip(1) decompresses as one file of 20 MB.

The Oka scripts hold the chunk (and chunk.gz) as literals and build the 20 MB in memory, since a
script cannot read a file yet. data.oka and its peers only build or read the data: their time is
what every other script of the group spends before its work, to be taken off. The text comes from a
fixed seed, so every run works on the same data."""
import base64
import gzip
import itertools
import os
import random
import sys

CHUNK_BYTES = 1_000_000
CHUNKS = 20
SYLLABLES = ["ka", "to", "ri", "mo", "na", "se", "lu", "pe", "di", "ga", "vo", "chi", "an", "el", "or", "us"]

# The work of each benchmark on `data`, the 20 MB as a binary, or `packed`, chunk.gz as a binary; each
# prints what its peers print.
OKA_BODIES = {
    "data": "print length? data",
    "crc32": "loop 4 [sum: checksum data 'crc32] print sum",
    "sha256": "loop 4 [sum: checksum data 'sha256] print lowercase enbase/base sum 16",
    "deflate": "packed: compress data 'gzip print length? data",
    "inflate": "total: 0 loop 20 [total: total + length? decompress packed 'gzip] print total",
}


def generate():
    rng = random.Random(20240611)
    words = ["".join(rng.choice(SYLLABLES) for _ in range(rng.randint(1, 4))) for _ in range(20000)]
    weights = list(itertools.accumulate(1 / (rank + 1) for rank in range(len(words))))
    drawn = rng.choices(words, cum_weights=weights, k=CHUNK_BYTES // 5)
    sentences = (" ".join(drawn[i:i + 11]).capitalize() + ". " + ("\n" if i % 7 == 0 else "")
                 for i in range(0, len(drawn), 11))
    return "".join(sentences).encode()[:CHUNK_BYTES]


def oka_script(body, chunk, packed):
    return ("Oka []\n"
            f"chunk: to binary! {{{chunk.decode()}}}\n"
            f"packed: 64#{{{base64.b64encode(packed).decode()}}}\n"
            f"data: make binary! {len(chunk) * CHUNKS} loop {CHUNKS} [append data chunk]\n"
            f"{body}\n")


def write_if_changed(path, content):
    """Leaves a file that holds the content as it is, so that the page cache keeps it."""
    if os.path.exists(path):
        with open(path, "rb") as present:
            if present.read() == content:
                return
    with open(path, "wb") as out:
        out.write(content)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    chunk = generate()
    assert not set(b"{}^") & set(chunk), "the chunk must stand in a braced string as it is"
    packed = gzip.compress(chunk, mtime=0)
    files = {"chunk.txt": chunk, "text.txt": chunk * CHUNKS, "chunk.gz": packed, "text.gz": packed * CHUNKS}
    for name, body in OKA_BODIES.items():
        files[f"{name}.oka"] = oka_script(body, chunk, packed).encode()
    for name, content in files.items():
        write_if_changed(os.path.join(folder, name), content)
    for stale in ("deflate.data", "inflate.data"):
        if os.path.exists(os.path.join(folder, stale)):
            os.remove(os.path.join(folder, stale))


main()
