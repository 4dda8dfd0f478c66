// The dbgparse WebAssembly module behind a JavaScript interface, for Node and
// browsers alike. Written without imports, so that bundle.mjs can put it
// inline into the page's worker as a plain script (it drops the `export`s).
// Every call copies its input into the module's heap, calls one export of
// dbgparse_wasm.cpp and copies the result out, freeing all it allocated.

// A table that breaks where qbdump --check says it does.
export class MalformedTableError extends Error {
  constructor(offset, reason) {
    super(`byte ${offset}: expected ${reason}`);
    this.name = "MalformedTableError";
    this.offset = offset;
    this.reason = reason;
  }
}

// What a warning is about: DBGPARSE_WARNING_* in dbgparse.h.
export const WarningKind = Object.freeze({
  NO_SECTION: 1,
  VALUE_FIELD: 2,
  INNER_LINE: 3,
  EMPTY_NAME: 4,
  NO_LINE_END: 5,
  NAME_CUT: 6,
  NAME_ZERO_BYTE: 7,
  NAME_END_BLANK: 8,
  NOT_CONVERTED: 9,
  LEFT_OUT: 10,
  MALFORMED: 11,
  NAME_UNEXPECTED: 12,
});

const OK = 0;
const END = 1;
const NO_MEMORY = -2;
const MALFORMED = -5;

function asBytes(input, what) {
  if (input instanceof Uint8Array) return input;
  if (input instanceof ArrayBuffer) return new Uint8Array(input);
  if (ArrayBuffer.isView(input)) return new Uint8Array(input.buffer, input.byteOffset, input.byteLength);
  throw new TypeError(`${what} must be a Uint8Array or an ArrayBuffer`);
}

// Warning records (dbgparse_wasm.cpp): six little-endian words (kind, line,
// offset, entry, message length, line length), the message, then the
// warning's line as dbgparse prints it, when one was asked for.
function parseRecords(records) {
  const view = new DataView(records.buffer, records.byteOffset, records.byteLength);
  const decoder = new TextDecoder();
  const list = [];
  for (let at = 0; at < records.length; ) {
    const length = view.getUint32(at + 16, true);
    const lineLength = view.getUint32(at + 20, true);
    const message = at + 24;
    list.push({
      kind: view.getUint32(at, true),
      line: view.getUint32(at + 4, true),
      offset: view.getUint32(at + 8, true),
      entry: view.getUint32(at + 12, true),
      message: decoder.decode(records.subarray(message, message + length)),
      text: decoder.decode(records.subarray(message + length, message + length + lineLength)),
    });
    at += 24 + length + lineLength;
  }
  return list;
}

// A line the library wrote (its bytes or its text), without its line end.
const lineOf = (line) => (typeof line === "string" ? line : new TextDecoder().decode(line)).replace(/\n$/, "");

// A DBG file's warnings: kind, line, offset and message.
const parseWarnings = (records) => parseRecords(records).map(({ kind, line, offset, message }) => ({ kind, line, offset, message }));

// The API over an instantiated module (its exports).
function bind(exports) {
  const { memory } = exports;
  exports._initialize();
  // Out-parameters of every call, allocated once: five words for an entry,
  // three for results (pointer, size, count), one for a reason's pointer,
  // one for an offset and two for a second result (pointer, size).
  const scratch = exports.web_malloc(64);
  const entryWords = scratch;
  const outPointer = scratch + 20;
  const outSize = scratch + 24;
  const outCount = scratch + 28;
  const outReason = scratch + 32;
  const outOffset = scratch + 36;
  const outPointer2 = scratch + 40;
  const outSize2 = scratch + 44;
  const words = () => new Uint32Array(memory.buffer);
  const heap = () => new Uint8Array(memory.buffer);
  const text = (pointer) => {
    const bytes = heap();
    let end = pointer;
    while (bytes[end] !== 0) end++;
    return new TextDecoder().decode(bytes.subarray(pointer, end));
  };
  const failure = (status) =>
    status === NO_MEMORY ? new RangeError("dbgparse: not enough memory for it") : new Error(`dbgparse: status ${status}`);

  // Runs `call` with the input copied into the heap, freeing it afterwards.
  function withInput(input, what, call) {
    const bytes = asBytes(input, what);
    const pointer = exports.web_malloc(Math.max(bytes.length, 1));
    if (pointer === 0) throw failure(NO_MEMORY);
    try {
      heap().set(bytes, pointer);
      return call(pointer, bytes.length, bytes);
    } finally {
      exports.web_free(pointer);
    }
  }

  // Runs `call` with a file's name copied into the heap as UTF-8.
  function withPath(path, call) {
    const bytes = new TextEncoder().encode(String(path));
    const pointer = exports.web_malloc(Math.max(bytes.length, 1));
    if (pointer === 0) throw failure(NO_MEMORY);
    try {
      heap().set(bytes, pointer);
      return call(pointer, bytes.length);
    } finally {
      exports.web_free(pointer);
    }
  }

  // Takes the buffer a call left in outPointer/outSize: a copy, then freed.
  function takeOutput(pointerAt = outPointer, sizeAt = outSize) {
    const w = words();
    const pointer = w[pointerAt >> 2];
    const size = w[sizeAt >> 2];
    const copy = heap().slice(pointer, pointer + size);
    exports.web_free(pointer);
    return copy;
  }

  function convert(dbg) {
    return withInput(dbg, "a DBG file", (pointer, size) => {
      const status = exports.web_convert(pointer, size, outPointer, outSize);
      if (status !== OK) throw failure(status);
      return takeOutput();
    });
  }

  // The warnings, the first `limit` of them, and how many there are.
  function warnings(dbg, limit = 0xffffffff) {
    return withInput(dbg, "a DBG file", (pointer, size) => {
      const status = exports.web_diagnose(pointer, size, limit, outPointer, outSize, outCount);
      if (status !== OK) throw failure(status);
      const count = words()[outCount >> 2];
      return { warnings: parseWarnings(takeOutput()), count };
    });
  }

  // The table and its warnings (the first `limit`, and how many there are)
  // in one pass over the input; each warning with `text`, its line as
  // dbgparse prints it for the file `path` (without the line end).
  function convertWithWarnings(dbg, limit = 0xffffffff, path = "") {
    return withInput(dbg, "a DBG file", (pointer, size) => withPath(path, (pathPointer, pathSize) => {
      const status = exports.web_convert_and_diagnose(
        pointer, size, pathPointer, pathSize, limit, outPointer, outSize, outPointer2, outSize2, outCount);
      if (status !== OK) throw failure(status);
      const count = words()[outCount >> 2];
      const found = parseRecords(takeOutput(outPointer2, outSize2))
        .map(({ kind, line, offset, message, text }) => ({ kind, line, offset, message, text: lineOf(text) }));
      return { table: takeOutput(), warnings: found, count };
    }));
  }

  // dbgparse's line for `count` warnings it does not show about the file
  // `path`, without the line end.
  function moreWarningsLine(path, count) {
    return withPath(path, (pathPointer, pathSize) => {
      const status = exports.web_more_warnings_line(pathPointer, pathSize, count, outPointer, outSize);
      if (status !== OK) throw failure(status);
      return lineOf(takeOutput());
    });
  }

  // The entries, the first `limit` of them, how many there are, and the
  // fault; with `lines`, each entry with `line`, as qbdump --entries writes
  // it (without the line end).
  function readEntries(table, limit = Infinity, { lines = false } = {}) {
    return withInput(table, "a table", (pointer, size, bytes) => {
      const list = [];
      let count = 0;
      words()[outOffset >> 2] = 0;
      for (;;) {
        const status = exports.web_next_entry(pointer, size, outOffset, entryWords, outReason);
        const w = words();
        if (status === END) return { entries: list, count, fault: null };
        if (status === MALFORMED) {
          return { entries: list, count, fault: new MalformedTableError(w[outOffset >> 2], text(w[outReason >> 2])) };
        }
        if (status !== OK) throw failure(status);
        if (count++ < limit) {
          const e = entryWords >> 2;
          const name = w[e + 1] - pointer;
          const entry = { checksum: w[e], name: bytes.slice(name, name + w[e + 2]), padding: w[e + 3], offset: w[e + 4] };
          if (lines) {
            const written = exports.web_entry_line(entryWords, outPointer2, outSize2);
            if (written !== OK) throw failure(written);
            entry.line = lineOf(takeOutput(outPointer2, outSize2));
          }
          list.push(entry);
        }
      }
    });
  }

  function entries(table) {
    const read = readEntries(table);
    if (read.fault) throw read.fault;
    return read.entries;
  }

  // The listing; for a table that breaks, the entries' before it and the
  // fault, which the library tells with the listing. With the entries it
  // leaves out (the first `limit`, each { entry, offset, message } as
  // qbdump tells it: "entry N at byte O left out: MESSAGE", and with `path`
  // their `line` as qbdump prints it for that file), and their count.
  function readListing(table, limit = 0xffffffff, path = undefined) {
    return withInput(table, "a table", (pointer, size) => withPath(path ?? "", (pathPointer, pathSize) => {
      const status = exports.web_list(pointer, size, path === undefined ? 0 : pathPointer, pathSize, limit,
        outPointer, outSize, outPointer2, outSize2, outCount);
      if (status !== OK && status !== MALFORMED) throw failure(status);
      const leftOutCount = words()[outCount >> 2];
      const records = parseRecords(takeOutput(outPointer2, outSize2));
      const listing = takeOutput();
      const broken = records.find((r) => r.kind === WarningKind.MALFORMED);
      const fault = status === MALFORMED ? new MalformedTableError(broken.offset, broken.message) : null;
      const leftOut = records
        .filter((r) => r.kind === WarningKind.LEFT_OUT)
        .map(({ entry, offset, message, text }) => (path === undefined ? { entry, offset, message } : { entry, offset, message, line: lineOf(text) }));
      return { listing, fault, leftOut, leftOutCount };
    }));
  }

  // The listing, carrying in `leftOut` the entries it leaves out (an empty
  // array when none is). Not enumerable: the bytes compare as the listing's
  // bytes alone.
  function listing(table) {
    const read = readListing(table);
    if (read.fault) throw read.fault;
    return Object.defineProperty(read.listing, "leftOut", { value: read.leftOut, enumerable: false });
  }

  const diagnose = (dbg) => warnings(dbg).warnings;
  const version = text(exports.web_version());
  // The bytes the module's heap holds between calls: the tests' measure of
  // a leak, not in the package's interface (dbgparse.mjs).
  const heapInUse = () => exports.web_heap_in_use();
  return {
    convert, entries, listing, diagnose, version, warnings, convertWithWarnings, moreWarningsLine,
    readEntries, readListing, heapInUse,
  };
}

// Instantiates the module from its bytes: its own exports, the C functions
// that the API calls.
export async function instantiateModule(wasmBytes) {
  const imports = {
    env: { emscripten_notify_memory_growth() {} },
    wasi_snapshot_preview1: {
      proc_exit(code) {
        throw new Error(`dbgparse: the module stopped (${code})`);
      },
    },
  };
  const { instance } = await WebAssembly.instantiate(wasmBytes, imports);
  return instance.exports;
}

// Instantiates the module from its bytes: the API, as dbgparse.mjs exports it.
export async function instantiate(wasmBytes) {
  return bind(await instantiateModule(wasmBytes));
}
