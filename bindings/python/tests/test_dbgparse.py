"""The installed dbgparse package against the dbgparse and qbdump programs.

The programs come from $DBGPARSE_BUILD (default: build/release in the
repository): every table convert() makes must be dbgparse's byte for byte,
and every table read must end as `qbdump --check` says, with qbdump's
listing. The inputs: the golden files, the fuzz corpora, and hostile DBG
files and damaged tables generated here (the same ones each run).
"""

import array
import mmap
import os
import random
import re
import subprocess
import warnings
from pathlib import Path

import pytest

import dbgparse

ROOT = Path(__file__).resolve().parents[3]
BUILD = Path(os.environ.get("DBGPARSE_BUILD", ROOT / "build" / "release"))
DBGPARSE = BUILD / "dbgparse"
QBDUMP = BUILD / "qbdump"


def hostile_inputs(count=200):
    """The pieces of checksum lines, line ends, signs, zero bytes and long
    names thrown together at random."""
    rnd = random.Random(25)
    pieces = [b"[Checksums]\r\n", b"0x", b"0x", b"0X", b"0x2a9d4b1c ", b"deadBEEF", b"12", b"  ",
              b"\t", b"\r\n", b"\r", b"\n", b"\0", b"+", b"-", b"x", b"name", b"z" * 300,
              b"[Checksums]\n", b"[checksums]\r\n"]
    made = {}
    for k in range(count):
        body = b"".join(rnd.choice(pieces) for _ in range(rnd.randrange(1, 400)))
        made[f"hostile_{k:03}"] = (b"[Checksums]\r\n" if k % 4 else b"") + body
    # Inputs and a table past the size from which the GIL is let go.
    made["hostile_all"] = b"[Checksums]\r\n" + b"".join(made.values()) * 3
    made["many_lines"] = b"[Checksums]\r\n" + b"".join(
        b"0x%08x name_%d\r\n" % (rnd.getrandbits(32), k) for k in range(20000))
    return made


def dbg_inputs():
    found = {}
    for pattern in ("tests/data/*.dbg", "fuzz/corpus/*"):
        found.update((str(path.relative_to(ROOT)), path.read_bytes())
                     for path in sorted(ROOT.glob(pattern)))
    found.update(hostile_inputs())
    return found


DBG_INPUTS = dbg_inputs()


def program(path):
    if not os.access(path, os.X_OK):
        pytest.fail(f"{path} is missing: build the programs, or set DBGPARSE_BUILD")
    return str(path)


@pytest.fixture(scope="module")
def dbgparse_runs(tmp_path_factory):
    """What the dbgparse program makes of each input: the table, and the
    warnings it prints, as lines without "dbgparse: PATH"."""
    folder = tmp_path_factory.mktemp("dbgparse")
    runs = {}
    for name, data in DBG_INPUTS.items():
        source, target = folder / "in.dbg", folder / "out.qb"
        source.write_bytes(data)
        run = subprocess.run([program(DBGPARSE), str(source), str(target)],
                             stdin=subprocess.DEVNULL, capture_output=True, check=True)
        said = [line.removeprefix(f"dbgparse: {source}") for line in run.stderr.decode().splitlines()]
        runs[name] = (target.read_bytes(), said)
    return runs


@pytest.fixture(scope="module")
def dbgparse_tables(dbgparse_runs):
    return {name: table for name, (table, _) in dbgparse_runs.items()}


def warning_lines(warnings_found, shown=20):
    """The warnings as dbgparse prints them: the first `shown`, then a count."""
    lines = [(f":{w.line}" if w.line else "") + f": warning: {w.message}"
             for w in warnings_found[:shown]]
    if len(warnings_found) > shown:
        lines.append(f": {len(warnings_found) - shown} more warnings")
    return lines


def damaged(tables):
    """Cut, overwritten and lengthened copies of tables."""
    rnd = random.Random(25)
    sources = sorted(tables.values())
    made = {}
    for k in range(300):
        table = bytearray(rnd.choice(sources))
        how = k % 3
        if how == 0:
            del table[rnd.randrange(len(table) + 1):]
        elif how == 1:
            table[rnd.randrange(len(table))] = rnd.choice([0x00, 0x01, 0x2B, 0x41])
        else:
            table += bytes(rnd.choice([0x00, 0x2B, 0x41]) for _ in range(rnd.randrange(1, 4)))
        made[f"damaged_{k:03}"] = bytes(table)
    return made


def left_out_table(count):
    """A table of `count` entries that no listing line can make (names
    holding CR, 7 bytes each), then one that it can."""
    table = bytearray()
    for k in range(count):
        table += (b"\x01\x2b" if k == 0 else b"\x00\x2b") + k.to_bytes(4, "little") + b"\r"
    return bytes(table + (b"\x00\x2b" if count else b"\x01\x2b") + b"\x07\0\0\0c\0\0")


def left_out_tables():
    """Tables that leave out as many entries as qbdump names, and more."""
    return {f"left_out_{count}": left_out_table(count) for count in (20, 21, 25, 1000)}


@pytest.fixture(scope="module")
def qbdump_views(dbgparse_tables, tmp_path_factory):
    """Each table with what qbdump says of it: ("entries", count) or
    ("fault", message) from --check, and its listing with the lines it
    warns of entries left out."""
    tables = {}
    for pattern in ("tests/data/*.qb", "fuzz/corpus_tables/*"):
        tables.update((str(path.relative_to(ROOT)), path.read_bytes())
                      for path in sorted(ROOT.glob(pattern)))
    tables.update((f"dbgparse of {name}", table) for name, table in dbgparse_tables.items())
    tables.update(damaged(tables))
    tables.update(left_out_tables())
    folder = tmp_path_factory.mktemp("qbdump")
    files = {}
    for k, (name, table) in enumerate(tables.items()):
        files[name] = folder / f"t{k:04}.qb"
        files[name].write_bytes(table)
    check = subprocess.run([program(QBDUMP), "--check"] + [str(f) for f in files.values()],
                           stdin=subprocess.DEVNULL, capture_output=True, check=False)
    said = {}
    for line in check.stdout.decode().splitlines():
        path, counted = line.split(": ", 1)
        said[path] = ("entries", int(re.match(r"(\d+) entr", counted).group(1)))
    for line in check.stderr.decode().splitlines():
        path, message = line.removeprefix("qbdump: ").split(": ", 1)
        if message.startswith("byte "):
            said[path] = ("fault", message)
    views = {}
    for name, file in files.items():
        listing = None
        if said[str(file)][0] == "entries":
            # qbdump keeps an existing DBG file: each listing goes to a new one.
            out = folder / "listing.dbg"
            out.unlink(missing_ok=True)
            run = subprocess.run([program(QBDUMP), str(file), str(out)], stdin=subprocess.DEVNULL,
                                 capture_output=True, check=True)
            prefix = f"qbdump: {file}: "
            left_out = [line.removeprefix(prefix) for line in run.stderr.decode().splitlines()]
            listing = (out.read_bytes(), left_out)
        views[name] = (tables[name], said[str(file)], listing)
    return views


def buffer_kinds(data, tmp_path):
    """The same bytes as each kind of bytes-like object."""
    padded = bytearray(b"<" + data + b">")
    kinds = {
        "bytes": data,
        "bytearray": bytearray(data),
        "memoryview": memoryview(data),
        "memoryview slice": memoryview(padded)[1:-1],
        "read-only memoryview": memoryview(bytearray(data)).toreadonly(),
        "array": array.array("B", data),
    }
    if data:  # an empty file cannot be mapped
        file = tmp_path / "mapped"
        file.write_bytes(data)
        with open(file, "rb") as opened:
            kinds["mmap"] = mmap.mmap(opened.fileno(), 0, access=mmap.ACCESS_READ)
    return kinds


def encode(entries):
    """The table that the entries describe, offsets checked on the way."""
    table = bytearray()
    for k, entry in enumerate(entries):
        assert entry.offset == len(table)
        table += b"\x01\x2b" if k == 0 else b"\x00\x2b"
        table += entry.checksum.to_bytes(4, "little") + entry.name + bytes(entry.padding)
    return bytes(table + b"\x00\x00")


@pytest.mark.parametrize("name", DBG_INPUTS)
def test_convert_as_dbgparse(name, dbgparse_runs, tmp_path):
    data = DBG_INPUTS[name]
    expected, said = dbgparse_runs[name]
    if name.startswith("tests/data/"):
        assert expected == (ROOT / name).with_suffix(".qb").read_bytes()
    for kind, view in buffer_kinds(data, tmp_path).items():
        assert dbgparse.convert(view) == expected, kind
        assert dbgparse.diagnose(view) == dbgparse.diagnose(data), kind
    found = dbgparse.diagnose(data)
    assert warning_lines(found) == said
    assert all(isinstance(w.kind, dbgparse.WarningKind) and w.offset <= len(data) for w in found)


def test_tables_as_qbdump(qbdump_views, tmp_path):
    faults = 0
    for name, (table, (verdict, said), listing) in qbdump_views.items():
        if verdict == "fault":
            faults += 1
            with pytest.raises(dbgparse.MalformedTableError) as raised:
                dbgparse.entries(table)
            assert str(raised.value) == said, name
            assert said == f"byte {raised.value.offset}: expected {raised.value.reason}"
            with pytest.raises(dbgparse.MalformedTableError) as raised_by_listing:
                dbgparse.listing(table)
            assert raised_by_listing.value.args == raised.value.args, name
            continue
        for kind, view in buffer_kinds(table, tmp_path).items():
            found = dbgparse.entries(view)
            assert len(found) == said, (name, kind)
            assert encode(found) == table, (name, kind)
        text, left_out = listing
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            assert dbgparse.listing(table) == text, name
        assert [str(w.message) for w in caught] == left_out, name
        assert all(w.category is dbgparse.LeftOutWarning for w in caught)
    # The damaged tables break in every way, and most of them do break.
    assert faults > 150


@pytest.mark.parametrize("count", [0, 1, 20, 21, 25, 1000])
def test_listing_warns_of_twenty_and_holds_all(count):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        text = dbgparse.listing(left_out_table(count))
    assert text == b"[Checksums]\r\n0x00000007 c\r\n"
    assert len(caught) == min(count, 21)
    told = [w.message for w in caught]
    assert [w.warning.line for w in told[:20]] == list(range(1, min(count, 20) + 1))
    held = [entry for w in told[:20] for entry in w.left_out] if count <= 20 else told[-1].left_out
    assert [(w.kind, w.line, w.offset) for w in held] == [
        (dbgparse.WarningKind.LEFT_OUT, k + 1, 7 * k) for k in range(count)]
    if count > 20:
        assert told[-1].warning == held[20]


def test_no_public_name_shadows_a_builtin():
    import builtins  # pylint: disable=import-outside-toplevel
    star = {}
    exec("from dbgparse import *", star)  # pylint: disable=exec-used
    star.pop("__builtins__")
    assert sorted(star) == sorted(dbgparse.__all__)
    assert not set(star) & set(dir(builtins))
    # 2.0's name still imports.
    from dbgparse import Warning as Old  # pylint: disable=import-outside-toplevel,redefined-builtin
    assert Old is dbgparse.Diagnostic
    assert isinstance(dbgparse.diagnose(b"x")[0], Old)


def test_installed_package_holds_python_files_and_the_extension():
    folder = Path(dbgparse.__file__).parent
    installed = {path.name for path in folder.iterdir() if path.name != "__pycache__"}
    extension = {name for name in installed if name.startswith("_dbgparse.") and
                 name.endswith((".so", ".pyd"))}
    assert len(extension) == 1
    assert installed - extension == {"__init__.py", "_dbgparse.pyi", "py.typed"}


@pytest.mark.parametrize("call, argument, error", [
    (dbgparse.convert, "[Checksums]\r\n", TypeError),
    (dbgparse.entries, None, TypeError),
    (dbgparse.listing, 7, TypeError),
    (dbgparse.diagnose, ["0x"], TypeError),
    (dbgparse.convert, memoryview(b"ab" * 8)[::2], BufferError),
    (dbgparse.entries, b"", dbgparse.MalformedTableError),
    (dbgparse.entries, b"\x01\x2b\x2a\x00\x00\x00name\x00\x2b", dbgparse.MalformedTableError),
    (dbgparse.listing, b"\x00\x00\x00", dbgparse.MalformedTableError),
])
def test_errors_raised(call, argument, error):
    with pytest.raises(error) as raised:
        call(argument)
    if error is dbgparse.MalformedTableError:
        assert isinstance(raised.value, ValueError)
        assert isinstance(raised.value.offset, int) and raised.value.reason


def test_version_is_the_headers():
    header = (ROOT / "lib" / "include" / "dbgparse.h").read_text()
    assert f'#define DBGPARSE_VERSION_STRING "{dbgparse.__version__}"' in header


@pytest.mark.parametrize("most", [None, 0, 1, 999, 1000, 1001])
def test_diagnose_keeps_the_first_most_warnings(most):
    # One warning a line: a name ending in a blank.
    data = b"[Checksums]\r\n" + b"".join(b"0x%08x n%d \r\n" % (k, k) for k in range(1000))
    everything = dbgparse.diagnose(data)
    assert len(everything) == 1000
    assert dbgparse.diagnose(data, most) == everything[: 1000 if most is None else most]


def test_diagnose_refuses_a_negative_most():
    with pytest.raises(ValueError):
        dbgparse.diagnose(b"", -1)
