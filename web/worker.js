// The page's worker: reads each file, converts or reads it with the module,
// and posts back what the page shows. Preceded in its Blob by core.mjs and
// WASM_BASE64 (see bundle.mjs).
const ENTRIES_SHOWN = 300;
const WARNINGS_SHOWN = 20; // as dbgparse prints them: the first 20, then a count
const LEFT_OUT_SHOWN = 20;

const ready = instantiate(Uint8Array.from(atob(WASM_BASE64), (c) => c.charCodeAt(0)));

// The file's bytes, read in pieces with progress posted as they come.
async function read(id, file) {
  const bytes = new Uint8Array(file.size);
  const reader = file.stream().getReader();
  let done = 0;
  let posted = 0;
  for (;;) {
    const piece = await reader.read();
    if (piece.done) break;
    bytes.set(piece.value, done);
    done += piece.value.length;
    if (done - posted >= 1 << 20 || done === file.size) {
      postMessage({ id, progress: { stage: "reading", done, total: file.size } });
      posted = done;
    }
  }
  return bytes;
}

// The texts shown (entry lines, warning lines) are the library's own, as
// qbdump and dbgparse print them.
async function handle(id, file, isTable) {
  const api = await ready;
  const bytes = await read(id, file);
  if (!isTable) {
    postMessage({ id, progress: { stage: "converting" } });
    const { table, warnings, count: warningCount } = api.convertWithWarnings(bytes, WARNINGS_SHOWN, file.name);
    const { count } = api.readEntries(table, 0);
    const lines = warnings.map((warning) => warning.text);
    if (warningCount > warnings.length) lines.push(api.moreWarningsLine(file.name, warningCount - warnings.length));
    // The Blob made here, not on the page's thread: a large one takes time.
    return { id, kind: "dbg", table: new Blob([table]), count, lines, warningCount };
  }
  postMessage({ id, progress: { stage: "reading entries" } });
  const found = api.readEntries(bytes, ENTRIES_SHOWN, { lines: true });
  const { listing, leftOut, leftOutCount } = api.readListing(bytes, LEFT_OUT_SHOWN, file.name);
  const fault = found.fault && { offset: found.fault.offset, reason: found.fault.reason };
  const lines = found.entries.map((entry) => entry.line);
  const blob = new Blob([listing]);
  return { id, kind: "qb", count: found.count, lines, fault, listing: blob, leftOut, leftOutCount };
}

onmessage = async ({ data: { id, file, isTable } }) => {
  try {
    postMessage(await handle(id, file, isTable));
  } catch (error) {
    postMessage({ id, error: String(error && error.message ? error.message : error) });
  }
};
