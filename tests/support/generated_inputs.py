#!/usr/bin/env python3
"""The generated inputs that the checks of the library and its bindings share,
the same bytes every run for a seed:

  generated_inputs.py hostile FOLDER [SEED]         300 hostile DBG files, NNN.dbg:
      the pieces of checksum lines, line ends, signs, zero bytes and long
      names thrown together at random, most after a [Checksums] header
  generated_inputs.py damaged TABLES FOLDER [SEED]  400 cut, damaged or lengthened
      copies, NNN.qb, of the tables in TABLES
"""
import os
import random
import sys

PIECES = [b"[Checksums]\r\n", b"0x", b"0x", b"0X", b"0x2a9d4b1c ", b"deadBEEF", b"12", b"  ", b"\t",
          b"\r\n", b"\r", b"\n", b"\0", b"+", b"-", b"x", b"name", b"z" * 300, b"[Checksums]\n"]


def hostile(folder, seed):
    rnd = random.Random(seed)
    for k in range(300):
        body = b"".join(rnd.choice(PIECES) for _ in range(rnd.randrange(1, 400)))
        head = b"[Checksums]\r\n" if k % 4 else b""
        with open(os.path.join(folder, f"{k:03}.dbg"), "wb") as out:
            out.write(head + body)


def damaged(tables_folder, folder, seed):
    rnd = random.Random(seed)
    tables = sorted(os.listdir(tables_folder))
    for k in range(400):
        with open(os.path.join(tables_folder, rnd.choice(tables)), "rb") as source:
            table = bytearray(source.read())
        how = k % 3
        if how == 0:
            table = table[:rnd.randrange(len(table) + 1)]
        elif how == 1:
            table[rnd.randrange(len(table))] = rnd.choice([0x00, 0x01, 0x2B, 0x41])
        else:
            table += bytes(rnd.choice([0x00, 0x2B, 0x41]) for _ in range(rnd.randrange(1, 4)))
        with open(os.path.join(folder, f"{k:03}.qb"), "wb") as out:
            out.write(table)


def main(argv):
    if len(argv) in (3, 4) and argv[1] == "hostile":
        hostile(argv[2], int(argv[3]) if len(argv) == 4 else 13)
    elif len(argv) in (4, 5) and argv[1] == "damaged":
        damaged(argv[2], argv[3], int(argv[4]) if len(argv) == 5 else 13)
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
