#!/usr/bin/env python3
"""The codecs of checksum, compress and decompress against python3's zlib, gzip, hashlib and hmac and
the gzip tool, which nobody here wrote.

    codecs.py OKA [--quick]

Writes Oka scripts that hold the data as binary literals, runs them with OKA and compares what they
print with what the oracles compute:
- decompress reads what python3's zlib writes at levels 0, 1, 6 and 9 (stored, fixed and dynamic
  blocks) in the three wrappings, and what gzip(1) writes (a header with the file's name);
- python3 decompresses what compress writes;
- a cut or damaged gzip or zlib stream is an error, and a damaged raw stream an answer or an error,
  never a crash;
- the digests, HMACs, CRC-32 and Adler-32 are python3's, for keys around the digests' block sizes.
Fails with the first differences it finds. The 10 MB data set, which adds size but no new kind of
stream, is left out with --quick (for builds that are slow by design, such as the sanitizers') and
under the collector's stress mode (OKA_GC_STRESS), which tests the collector, not the codecs."""
import base64
import gzip
import hashlib
import hmac
import itertools
import os
import random
import shutil
import subprocess
import sys
import tempfile
import zlib

OKA = os.path.abspath(sys.argv[1])
QUICK = "--quick" in sys.argv[2:] or bool(os.environ.get("OKA_GC_STRESS"))
SIZES = [0, 1, 2, 3, 100, 4096, 65539, 1_000_000]
BIG = 10_000_000
LEVELS = [0, 1, 6, 9]
METHODS = ["zlib", "deflate", "gzip"]
DIGESTS = ["md5", "sha1", "sha256", "sha384", "sha512"]

rng = random.Random(20240611)


def text(size):
    """Words drawn with the skewed frequencies of a natural language, so that it compresses as text does."""
    words = ["".join(rng.choice("etaoinshrdlucmfwyp") for _ in range(rng.randint(1, 9))) for _ in range(3000)]
    weights = list(itertools.accumulate(1 / (rank + 1) for rank in range(len(words))))
    drawn = rng.choices(words, cum_weights=weights, k=size // 4 + 1)
    lines = (" ".join(drawn[i:i + 12]) + ".\n" for i in range(0, len(drawn), 12))
    return "".join(lines).encode()[:size]


def data_sets():
    for size in SIZES:
        yield f"text {size}", text(size)
        yield f"noise {size}", rng.randbytes(size)
        yield f"zeros {size}", bytes(size)
    if not QUICK:
        yield f"text {BIG}", text(BIG)


def wrapped(data, method, level):
    if method == "zlib":
        return zlib.compress(data, level)
    if method == "gzip":
        return gzip.compress(data, level, mtime=0)
    packer = zlib.compressobj(level, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


def unwrapped(packed, method):
    if method == "zlib":
        return zlib.decompress(packed)
    if method == "gzip":
        return gzip.decompress(packed)
    return zlib.decompress(packed, -15)


def literal(data):
    return "64#{" + base64.b64encode(data).decode() + "}"


def run_oka(folder, lines):
    """Runs the lines as a script; the lines it printed."""
    path = os.path.join(folder, "case.oka")
    with open(path, "w", encoding="utf-8") as script:
        script.write("Oka []\n" + "\n".join(lines) + "\n")
    result = subprocess.run([OKA, path], capture_output=True, text=True, timeout=600)
    if result.returncode != 0:
        sys.exit(f"oka failed ({result.returncode}):\n{result.stdout[-2000:]}\n{result.stderr[-2000:]}")
    return result.stdout.splitlines()


class Checks:
    """Script lines that each print one answer, with the answers each may print."""

    def __init__(self):
        self.lines, self.expected, self.names = [], [], []

    def add(self, name, line, *expected):
        """`expected`: the answers the line may print, or one function that judges what it printed."""
        self.lines.append(line)
        self.expected.append(expected)
        self.names.append(name)

    def run(self, folder):
        printed = run_oka(folder, self.lines)
        wrong = [f"{name}: printed {got[:80]!r}" for name, got, want in zip(self.names, printed, self.expected)
                 if not judged(got, want)]
        if len(printed) != len(self.expected):
            wrong.append(f"{len(printed)} answers for {len(self.expected)} checks")
        return wrong


def judged(printed, expected):
    if not callable(expected[0]):
        return printed in expected
    try:
        return expected[0](printed)
    except (zlib.error, ValueError, OSError):
        return False


def sha256_line(expression):
    return f"print enbase/base checksum {expression} 'sha256 16"


def decompress_checks(checks, name, data, folder):
    expected = hashlib.sha256(data).hexdigest().upper()
    # Every level of every wrapping up to 1 MB; of the large text the levels of zlib that differ most.
    streams = [(method, level) for method in METHODS for level in LEVELS]
    if len(data) > 1_000_000:
        streams = [("zlib", 1), ("zlib", 9), ("gzip", 6), ("deflate", 6)]
    for method, level in streams:
        checks.add(f"decompress {name} {method} {level}",
                   sha256_line(f"decompress {literal(wrapped(data, method, level))} '{method}"), expected)
    if shutil.which("gzip") and len(data) <= 1_000_000:
        path = os.path.join(folder, "data.bin")
        with open(path, "wb") as out:
            out.write(data)
        packed = subprocess.run(["gzip", "-9", "-c", path], capture_output=True, check=True).stdout
        checks.add(f"decompress {name} gzip(1)", sha256_line(f"decompress {literal(packed)} 'gzip"), expected)


def compress_checks(checks, name, data):
    """What compress writes, printed for python3 to unpack."""
    checks.add(f"data {name}", f"data: {literal(data)} print length? data", str(len(data)))
    for method in METHODS:
        checks.add(f"compress {name} {method}", f"print enbase compress data '{method}",
                   lambda printed, method=method: unwrapped(base64.b64decode(printed), method) == data)


def damage_checks(checks):
    """A gzip or zlib stream cut or damaged is an error (its trailer tells); a raw stream may also be
    read as other bytes, or, cut at a block's end, as fewer."""
    data = text(100_000)
    for method in METHODS:
        packed = wrapped(data, method, 6)
        answers = ["error"] if method != "deflate" else ["error", "answer"]
        damaged = [(f"cut at {cut}", packed[:cut]) for cut in [1, 2, 5, 17, len(packed) // 2, len(packed) - 1]]
        for position in rng.sample(range(len(packed)), 40):
            changed = bytearray(packed)
            changed[position] ^= 1 << rng.randrange(8)
            damaged.append((f"changed at {position}", bytes(changed)))
        for name, stream in damaged:
            line = f"print either error! = type? try [decompress {literal(stream)} '{method}] ['error] ['answer]"
            checks.add(f"{method} {name}", line, *answers)


def signed(sum32):
    """A 32-bit sum as the integer! checksum answers, its top bit the sign."""
    return str(sum32 - (1 << 32) if sum32 >> 31 else sum32)


def digest_checks(checks):
    keys = [b"", b"k", rng.randbytes(64), rng.randbytes(65), rng.randbytes(128), rng.randbytes(129),
            rng.randbytes(200)]
    for size in [0, 1, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129, 1000, 100_000]:
        data = rng.randbytes(size)
        checks.add(f"crc32 {size}", f"print checksum {literal(data)} 'crc32", signed(zlib.crc32(data)))
        checks.add(f"adler32 {size}", f"print checksum {literal(data)} 'adler32", signed(zlib.adler32(data)))
        for digest in DIGESTS:
            expected = hashlib.new(digest, data).hexdigest().upper()
            checks.add(f"{digest} {size}", f"print enbase/base checksum {literal(data)} '{digest} 16", expected)
            for key in keys:
                expected = hmac.new(key, data, digest).hexdigest().upper()
                line = f"print enbase/base checksum/with {literal(data)} '{digest} {literal(key)} 16"
                checks.add(f"hmac {digest} {size} key {len(key)}", line, expected)
    # A text is checksummed as its UTF-8 encoding.
    checks.add("sha256 of a text", "print enbase/base checksum {Ça va? 日本} 'sha256 16",
               hashlib.sha256("Ça va? 日本".encode()).hexdigest().upper())


def main():
    """One script for each data set, so that none holds more than its own data."""
    wrong, count = [], 0
    with tempfile.TemporaryDirectory() as folder:
        for name, data in data_sets():
            checks = Checks()
            decompress_checks(checks, name, data, folder)
            compress_checks(checks, name, data)
            wrong += checks.run(folder)
            count += len(checks.lines)
        checks = Checks()
        damage_checks(checks)
        digest_checks(checks)
        wrong += checks.run(folder)
        count += len(checks.lines)
    if wrong:
        sys.exit("\n".join(wrong[:40]))
    print(f"{count} checks agree with python3")


main()
