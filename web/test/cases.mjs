// The inputs both web tests use (node.test.mjs on the npm package,
// browser.test.mjs on the page), and what the native programs make of them.
// Set DBGPARSE_ROOT to the source tree and DBGPARSE_NATIVE to the folder of a
// release build's dbgparse and qbdump (default: ROOT/build/release).
import { execFile, spawnSync } from "node:child_process";
import { mkdirSync, mkdtempSync, readdirSync, readFileSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { promisify } from "node:util";

export const root = process.env.DBGPARSE_ROOT ?? new URL("../..", import.meta.url).pathname;
const native = process.env.DBGPARSE_NATIVE ?? join(root, "build/release");

// The same pseudo-random numbers each run.
function random(seed) {
  return () => {
    seed = (seed + 0x6d2b79f5) | 0;
    let t = Math.imul(seed ^ (seed >>> 15), 1 | seed);
    t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

// Hostile DBG files: the pieces of checksum lines, line ends, zero bytes and
// long names thrown together, most after a header.
function hostileDbg(count) {
  const next = random(26);
  const pieces = ["[Checksums]\r\n", "0x", "0x", "0X", "0x2a9d4b1c ", "deadBEEF", "12", "  ", "\t", "\r\n",
    "\r", "\n", "\0", "+", "-", "x", "name", "z".repeat(300), "[Checksums]\n", "\xff\x7f\"\\", "[checksums]\r\n"]
    .map((piece) => Buffer.from(piece, "latin1"));
  return Array.from({ length: count }, (_, k) => {
    const body = Array.from({ length: 1 + Math.floor(next() * 400) }, () => pieces[Math.floor(next() * pieces.length)]);
    const head = k % 4 ? [pieces[0]] : [];
    return { name: `hostile-${String(k).padStart(3, "0")}.dbg`, bytes: new Uint8Array(Buffer.concat([...head, ...body])) };
  });
}

// Tables cut short, with a byte changed, or with bytes added at the end.
function damagedTables(tables, count) {
  const next = random(62);
  return Array.from({ length: count }, (_, k) => {
    const table = Buffer.from(tables[Math.floor(next() * tables.length)]);
    let bytes;
    if (k % 3 === 0) {
      bytes = table.subarray(0, Math.floor(next() * (table.length + 1)));
    } else if (k % 3 === 1) {
      bytes = Buffer.from(table);
      bytes[Math.floor(next() * bytes.length)] = [0x00, 0x01, 0x2b, 0x41][Math.floor(next() * 4)];
    } else {
      const tail = Array.from({ length: 1 + Math.floor(next() * 3) }, () => [0x00, 0x2b, 0x41][Math.floor(next() * 3)]);
      bytes = Buffer.concat([table, Buffer.from(tail)]);
    }
    return { name: `damaged-${String(k).padStart(3, "0")}.qb`, bytes: new Uint8Array(bytes) };
  });
}

const folder = (path) =>
  readdirSync(join(root, path)).sort().map((name) => ({ name, bytes: new Uint8Array(readFileSync(join(root, path, name))) }));

// Every input, each { name, table: whether it is read as a table, bytes }.
// Names are unique, and only tables end in .qb, as the page tells them apart.
export function cases({ hostile = 200, damaged = 100 } = {}) {
  const data = folder("tests/data");
  const golden = data.filter(({ name }) => name.endsWith(".dbg"));
  const goldenTables = data.filter(({ name }) => name.endsWith(".qb"));
  const corpus = folder("fuzz/corpus").map((c) => ({ ...c, name: `corpus-${c.name.replace(/\.qb$/, "")}` }));
  const corpusTables = folder("fuzz/corpus_tables").map((c) => ({ ...c, name: `corpus-${c.name}` }));
  // Lines of entries inside names: a table some 10 KB longer than its input.
  const longer = Buffer.from(`[Checksums]\r\n${"0x12345678 0x12345678 0x12345678 0x\r\n".repeat(10000)}`, "latin1");
  const dbg = [...golden, ...corpus, ...hostileDbg(hostile), { name: "table-longer-than-input.dbg", bytes: new Uint8Array(longer) }];
  // A table of more entries than the page shows.
  const many = [Buffer.from([1, 0x2b, 1, 0, 0, 0, 0x61])];
  for (let k = 2; k <= 1000; k++) many.push(Buffer.from([0, 0x2b, k & 0xff, k >> 8, 0, 0, 0x61]));
  many.push(Buffer.from([0, 0]));
  const manyEntries = { name: "many-entries.qb", bytes: new Uint8Array(Buffer.concat(many)) };
  const tables = [...goldenTables, ...corpusTables, manyEntries, ...damagedTables(goldenTables.map((t) => t.bytes), damaged)];
  return [...dbg.map((c) => ({ ...c, table: false })), ...tables.map((c) => ({ ...c, table: true }))];
}

// What the native programs make of each case, the files written to a
// temporary folder (returned as `dir`, each case as dir/NAME):
// for a DBG file `table` (dbgparse's bytes) and `warnings` (the lines it
// prints on its standard error); for a table `check` ("N entries" or "byte N:
// expected ...", as qbdump --check says), `listing` (qbdump's standard
// output), `leftOut` (its lines on the entries the listing leaves out) and
// `entries` (the lines of qbdump --entries).
export async function expectations(all) {
  const dir = mkdtempSync(join(tmpdir(), "dbgparse-web-"));
  const out = join(dir, "out");
  mkdirSync(out);
  const expected = new Map();
  for (const c of all) writeFileSync(join(dir, c.name), c.bytes);
  const dbgFiles = all.filter((c) => !c.table).map((c) => c.name);
  const tables = all.filter((c) => c.table).map((c) => c.name);
  await inTurn(dbgFiles, async (name) => {
    const tablePath = join(out, `${name}.qb`);
    // dbgparse's standard error holds its warnings alone, as its output
    // is never a DBG file here.
    const { stderr } = await run(join(native, "dbgparse"), [name, tablePath], { cwd: dir, encoding: "latin1" });
    expected.set(name, { table: new Uint8Array(readFileSync(tablePath)), warnings: stderr.split("\n").filter(Boolean) });
  });
  // qbdump --check of all tables in one run: "NAME: N entries, M bytes" on
  // its standard output, "qbdump: NAME: byte N: expected ..." on its error.
  const check = spawnSync(join(native, "qbdump"), ["--check", ...tables], { cwd: dir, encoding: "latin1", maxBuffer: 1 << 28 });
  const said = new Map();
  for (const line of check.stdout.split("\n")) {
    const found = line.match(/^(.*): (\d+) entr(?:y|ies), /);
    if (found) said.set(found[1], `${found[2]} entries`);
  }
  for (const line of check.stderr.split("\n")) {
    const found = line.match(/^qbdump: (.*?): (byte \d+: expected .*)$/);
    if (found) said.set(found[1], found[2]);
  }
  await inTurn(tables, async (name) => {
    // A table that breaks makes qbdump fail after the listing's start.
    const listing = await run(join(native, "qbdump"), [name], { cwd: dir, encoding: "buffer", maxBuffer: 1 << 28 })
      .catch((failed) => failed);
    const entries = await run(join(native, "qbdump"), ["--entries", name], { cwd: dir, encoding: "latin1", maxBuffer: 1 << 28 })
      .catch((failed) => failed);
    expected.set(name, {
      check: said.get(name),
      listing: new Uint8Array(listing.stdout),
      leftOut: listing.stderr.toString("latin1").split("\n").filter((line) => line.includes(" left out: ")),
      entries: entries.stdout.split("\n").filter(Boolean),
    });
  });
  return { dir, expected };
}

const run = promisify(execFile);

// Runs `work` on every item, a few at a time: each is mostly a process's start.
async function inTurn(items, work) {
  let next = 0;
  const worker = async () => {
    while (next < items.length) await work(items[next++]);
  };
  await Promise.all(Array.from({ length: 6 }, worker));
}

// The page's and dbgparse's form of a warning.
export function warningLine(name, { line, message }) {
  return line > 0 ? `dbgparse: ${name}:${line}: warning: ${message}` : `dbgparse: ${name}: warning: ${message}`;
}

// A realistic DBG file of about `size` bytes: a text header, the section,
// then checksum lines with asset paths as names, CR LF ends.
export function realistic(size) {
  const next = random(64);
  const folders = ["textures", "models/characters", "levels/harbour", "sounds/ambient", "ui/menus"];
  const head = Buffer.from("Checksum list\r\nmade by the asset build\r\n\r\n[Checksums]\r\n", "latin1");
  const out = Buffer.alloc(size);
  let at = head.copy(out);
  for (let k = 0; ; k++) {
    const hex = Math.floor(next() * 4294967296).toString(16).padStart(8, "0");
    const line = `0x${hex} ${folders[k % folders.length]}/asset_${k}_${Math.floor(next() * 1e6)}.bin\r\n`;
    if (at + line.length > size) break;
    at += out.write(line, at, "latin1");
  }
  return new Uint8Array(out.buffer, out.byteOffset, at);
}
