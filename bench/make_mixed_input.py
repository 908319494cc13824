#!/usr/bin/env python3
"""Writes a mixed benchmark input: prose, records, source code, executables, random bytes and
runs, interleaved in pieces of 64 KiB to 512 KiB, as a package of assorted files would be.

usage: bench/make_mixed_input.py OUT [MIB] [SEED]   (default 32 MiB, seed 1)

Prose and code come from this repository (and the system's licence texts), executables from
/usr/bin; records, random bytes and runs are generated from SEED.
"""
import pathlib
import random
import sys

out_path = sys.argv[1]
size = int(sys.argv[2] if len(sys.argv) > 2 else 32) << 20
rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
repo = pathlib.Path(__file__).resolve().parent.parent


def concat(paths, limit=64 << 20):
    data = bytearray()
    for p in sorted(paths):
        try:
            data += p.read_bytes()
        except OSError:
            continue
        if len(data) > limit:
            break
    return bytes(data)


prose = concat([*repo.glob("docs/**/*.md"), *repo.glob("*.md"),
                *pathlib.Path("/usr/share/common-licenses").glob("*")])
code = concat([*repo.glob("src/**/*.cpp"), *repo.glob("src/**/*.h"), *repo.glob("tests/**/*.cpp")])
elves = [p for p in sorted(pathlib.Path("/usr/bin").iterdir()) if p.is_file() and not p.is_symlink()]
binaries = concat([p for p in elves if p.stat().st_size > 100_000][:40])


def slice_of(source, n):
    start = rng.randrange(0, max(1, len(source) - n))
    return source[start:start + n]


def records(n):
    lines = []
    total = 0
    while total < n:
        line = "%06d;%s;%s;%d,%02d;%s\n" % (
            rng.randrange(10**6), rng.choice(["SP", "RJ", "MG", "RS", "BA", "PE"]),
            "2026-%02d-%02d" % (rng.randint(1, 12), rng.randint(1, 28)),
            rng.randrange(100000), rng.randrange(100), rng.choice(["pago", "pendente", "estornado"]))
        lines.append(line)
        total += len(line)
    return "".join(lines).encode()[:n]


def runs(n):
    data = bytearray()
    while len(data) < n:
        data += bytes([rng.choice([0, 0, 0, 0xFF, 0x20, rng.randrange(256)])]) * rng.randint(1, 3000)
    return bytes(data[:n])


kinds = [
    lambda n: slice_of(prose, n),
    records,
    lambda n: slice_of(code, n),
    lambda n: slice_of(binaries, n),
    lambda n: rng.randbytes(n),
    runs,
]
with open(out_path, "wb") as out:
    written = 0
    while written < size:
        n = min(size - written, rng.randint(64, 512) << 10)
        piece = rng.choice(kinds)(n)
        out.write(piece)
        written += len(piece)
