"""DBG checksum lists to QB checksum tables, and QB tables read back.

The conversion is the one the ``dbgparse`` program does, byte for byte, and
the reader the one behind ``qbdump --check``: libdbgparse itself, compiled
into this package. Every function takes any bytes-like object (bytes,
bytearray, memoryview, mmap, ...) that no other thread writes during the
call; big inputs are worked on without the GIL, so other threads run
meanwhile.

>>> import dbgparse
>>> table = dbgparse.convert(b"[Checksums]\\r\\n0x2a9d4b1c player_board\\r\\n")
>>> dbgparse.entries(table)
[Entry(checksum=714951452, name=b'player_board', padding=0, offset=0)]
"""

from __future__ import annotations

import array
import enum
import mmap
import warnings as _warnings
from typing import NamedTuple, Optional, Union

from . import _dbgparse

__all__ = [
    "Diagnostic",
    "Entry",
    "LeftOutWarning",
    "MalformedTableError",
    "WarningKind",
    "convert",
    "diagnose",
    "entries",
    "listing",
]

#: The compiled library's version, "MAJOR.MINOR.PATCH".
__version__: str = _dbgparse.version()

#: What the functions accept: any object with a contiguous buffer.
BytesLike = Union[bytes, bytearray, memoryview, mmap.mmap, "array.array[int]"]


class Entry(NamedTuple):
    """One entry of a QB table."""

    checksum: int
    """The 32-bit value."""
    name: bytes
    """The name, up to its first zero byte."""
    padding: int
    """The zero bytes after the name, before the next marker."""
    offset: int
    """The offset of the entry's marker in the table."""


class WarningKind(enum.IntEnum):
    """What a warning is about (the DBGPARSE_WARNING_* values)."""

    NO_SECTION = 1
    """A non-empty input without a "[Checksums]" CR LF line: the table is empty."""
    VALUE_FIELD = 2
    """The 8 positions after "0x" are not 8 hexadecimal digits and a blank or a tab."""
    INNER_LINE = 3
    """A "0x" after the start of its line made an entry of its own."""
    EMPTY_NAME = 4
    """An entry without a name ended the table."""
    NO_LINE_END = 5
    """The input ends inside a checksum line: its entry has no name."""
    NAME_CUT = 6
    """A name longer than 255 bytes was cut to 255."""
    NAME_ZERO_BYTE = 7
    """A zero byte in a name: the rest became zero bytes."""
    NAME_END_BLANK = 8
    """A name ending in blanks or tabs, kept in the table."""
    NOT_CONVERTED = 9
    """A line that looks like a checksum line made no entry."""
    LEFT_OUT = 10
    """listing(): an entry that no listing line can make."""
    MALFORMED = 11
    """listing(): where a table breaks (raised as the fault)."""
    NAME_UNEXPECTED = 12
    """A name that reads as something else: it starts with a blank or a tab,
    with "=", ":" or "//", or holds a comment after a blank or a tab."""


class Diagnostic(NamedTuple):
    """One warning: the conversion did what it always does, but the input
    looks as if its author meant something else. (2.0 named it Warning,
    which shadows the builtin; that name still imports.)"""

    kind: WarningKind
    line: int
    """1-based (CR LF, a lone CR and a lone LF each end a line); 0 when it
    is about the input as a whole. For LEFT_OUT: the entry's number from 1."""
    offset: int
    """Of the byte the warning is about, in the input."""
    message: str
    """One English sentence saying what the conversion did there."""


#: 2.0's name of Diagnostic, kept for its users; not exported by ``*``.
Warning = Diagnostic  # pylint: disable=redefined-builtin

#: The entries left out that listing() warns of one by one, as qbdump does;
#: one more warning counts the rest.
LEFT_OUT_TOLD = 20


class LeftOutWarning(UserWarning):
    """Issued by listing() for each of the first LEFT_OUT_TOLD entries that
    no listing line can make, as qbdump tells them; when there are more, one
    more LeftOutWarning counts the rest.

    ``warning`` is the entry's Diagnostic (for the count: the first entry
    not told); ``left_out`` the Diagnostics of every entry the warning is
    about (for the count: all of the listing's)."""

    def __init__(self, warning: Diagnostic, left_out: Optional[list[Diagnostic]] = None) -> None:
        if left_out is None:
            left_out = [warning]
            text = (f"entry {warning.line} at byte {warning.offset} left out: "
                    f"{warning.message}")
        else:
            text = (f"{len(left_out) - LEFT_OUT_TOLD} more entries left out, "
                    f"{len(left_out)} in all")
        super().__init__(text)
        self.warning = warning
        self.left_out = left_out


class MalformedTableError(ValueError):
    """A table that breaks: where (``offset``) and what was expected there
    (``reason``), as ``qbdump --check`` reports them."""

    def __init__(self, offset: int, reason: str) -> None:
        super().__init__(offset, reason)
        self.offset = offset
        self.reason = reason

    def __str__(self) -> str:
        return f"byte {self.offset}: expected {self.reason}"


_kinds = (None,) + tuple(WarningKind)
assert all(kind == value for value, kind in enumerate(_kinds) if kind is not None)
_dbgparse._register(Entry, Diagnostic, _kinds, MalformedTableError)


def convert(data: BytesLike) -> bytes:
    """The QB table of the DBG file `data`, exactly as the dbgparse program
    makes it. Any bytes are a DBG file: without a "[Checksums]" CR LF line,
    the table is the empty one, b"\\x00\\x00"."""
    return _dbgparse.convert(data)


def entries(table: BytesLike) -> list[Entry]:
    """The entries of a QB table, in order.

    Raises MalformedTableError for a table that breaks, with no entry
    returned."""
    return _dbgparse.entries(table)


def listing(table: BytesLike) -> bytes:
    """The table as DBG text that converts back to it, as ``qbdump TABLE``
    lists it: "[Checksums]" CR LF, then "0x%08x NAME" CR LF per entry.

    An entry that no line can make is left out, with a LeftOutWarning for
    each of the first LEFT_OUT_TOLD and one that counts the rest and holds
    them all (``left_out``). Raises MalformedTableError for a table that
    breaks."""
    text, left_out = _dbgparse.listing(table)
    for warning in left_out[:LEFT_OUT_TOLD]:
        _warnings.warn(LeftOutWarning(warning), stacklevel=2)
    if len(left_out) > LEFT_OUT_TOLD:
        _warnings.warn(LeftOutWarning(left_out[LEFT_OUT_TOLD], left_out), stacklevel=2)
    return text


def diagnose(data: BytesLike, most: int | None = None) -> list[Diagnostic]:
    """The warnings that converting the DBG file `data` gives, in input
    order. The conversion itself does not depend on them. Warnings that
    say the same share one message string.

    `most` bounds the list, and the memory it takes, to the first `most`
    warnings: the walk stops there. None, the default, keeps them all,
    however many (millions for some inputs)."""
    return _dbgparse.diagnose(data, most)

