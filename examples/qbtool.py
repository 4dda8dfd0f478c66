#!/usr/bin/env python3
"""qbtool in Python: libdbgparse's shared library loaded through ctypes.

  qbtool.py LIBRARY convert IN.dbg OUT.qb      the table streamed by dbgparse_convert()
  qbtool.py LIBRARY convert-to IN.dbg OUT.qb   the table made by dbgparse_convert_to()
  qbtool.py LIBRARY list TABLE.qb              one line per entry: 0x%08x, a space, the name

LIBRARY is the path of libdbgparse.so.2. The package under bindings/python is
the way to use the library from Python; this shows the C interface itself. Output and exit status as qbtool.c's.
"""
import ctypes
import sys

SINK = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(ctypes.c_ubyte),
                        ctypes.c_size_t)


class Entry(ctypes.Structure):
    _fields_ = [("checksum", ctypes.c_uint32), ("name", ctypes.POINTER(ctypes.c_ubyte)),
                ("name_length", ctypes.c_size_t), ("padding", ctypes.c_size_t),
                ("offset", ctypes.c_size_t)]


def load(path):
    lib = ctypes.CDLL(path)
    lib.dbgparse_version.restype = ctypes.c_char_p
    lib.dbgparse_version.argtypes = []
    lib.dbgparse_convert.restype = ctypes.c_int
    lib.dbgparse_convert.argtypes = [ctypes.c_char_p, ctypes.c_size_t, SINK, ctypes.c_void_p]
    lib.dbgparse_status_text.restype = ctypes.c_char_p
    lib.dbgparse_status_text.argtypes = [ctypes.c_int]
    lib.dbgparse_convert_to.restype = ctypes.c_int
    lib.dbgparse_convert_to.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_void_p,
                                        ctypes.c_size_t, ctypes.POINTER(ctypes.c_size_t)]
    lib.dbgparse_next_entry.restype = ctypes.c_int
    lib.dbgparse_next_entry.argtypes = [ctypes.c_char_p, ctypes.c_size_t,
                                        ctypes.POINTER(ctypes.c_size_t), ctypes.POINTER(Entry),
                                        ctypes.POINTER(ctypes.c_char_p)]
    return lib


OK, END, TOO_SMALL = 0, 1, -4


def fail(lib, call, status):
    raise RuntimeError("%s: %s" % (call, lib.dbgparse_status_text(status).decode()))


def convert(lib, dbg):
    """The table in pieces through a sink, called on this thread. ctypes
    swallows an exception raised in a callback, so the sink keeps it and
    says stop, and it is raised again here."""
    pieces = []
    raised = []

    @SINK
    def take(_context, data, size):
        try:
            pieces.append(ctypes.string_at(data, size))
            return 0
        except BaseException as error:  # pylint: disable=broad-except
            raised.append(error)
            return 1

    status = lib.dbgparse_convert(dbg, len(dbg), take, None)
    if raised:
        raise raised[0]
    if status != OK:
        fail(lib, "dbgparse_convert", status)
    return b"".join(pieces)


def convert_to(lib, dbg):
    length = ctypes.c_size_t(0)
    status = lib.dbgparse_convert_to(dbg, len(dbg), None, 0, ctypes.byref(length))
    if status != TOO_SMALL:
        fail(lib, "dbgparse_convert_to", status)
    table = ctypes.create_string_buffer(length.value)
    status = lib.dbgparse_convert_to(dbg, len(dbg), table, length.value, None)
    if status != OK:
        fail(lib, "dbgparse_convert_to", status)
    return table.raw


def entries(lib, table):
    """(checksum, name) for each entry, then None or (offset, reason) of the fault."""
    offset = ctypes.c_size_t(0)
    entry = Entry()
    reason = ctypes.c_char_p()
    found = []
    while True:
        status = lib.dbgparse_next_entry(table, len(table), ctypes.byref(offset),
                                         ctypes.byref(entry), ctypes.byref(reason))
        if status != OK:
            return found, None if status == END else (offset.value, reason.value.decode())
        found.append((entry.checksum, ctypes.string_at(entry.name, entry.name_length)))


def main(argv):
    if len(argv) not in (4, 5) or argv[2] not in ("convert", "convert-to", "list"):
        sys.stderr.write(__doc__)
        return 2
    lib = load(argv[1])
    with open(argv[3], "rb") as file:
        data = file.read()
    if argv[2] == "list":
        found, fault = entries(lib, data)
        out = sys.stdout.buffer
        for checksum, name in found:
            out.write(b"0x%08x %s\n" % (checksum, name))
        out.flush()
        if fault:
            sys.stderr.write("qbtool: byte %d: expected %s\n" % fault)
            return 2
        return 0
    table = convert(lib, data) if argv[2] == "convert" else convert_to(lib, data)
    with open(argv[4], "wb") as file:
        file.write(table)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
