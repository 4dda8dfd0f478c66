// The inputs both web tests use (node.test.mjs on the npm package,
// browser.test.mjs on the page), and what the native programs make of them.
// Set DBGPARSE_ROOT to the source tree and DBGPARSE_NATIVE to the folder of a
// release build's dbgparse and qbdump (default: ROOT/build/release).
import { execFileSync, spawnSync } from "node:child_process";
import { mkdirSync, mkdtempSync, readdirSync, readFileSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

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
  const dbg = [...golden, ...corpus, ...hostileDbg(hostile)];
  const tables = [...goldenTables, ...corpusTables, ...damagedTables(goldenTables.map((t) => t.bytes), damaged)];
  return [...dbg.map((c) => ({ ...c, table: false })), ...tables.map((c) => ({ ...c, table: true }))];
}

// What the native programs make of each case, the files written to a
// temporary folder (returned as `dir`, each case as dir/NAME):
// for a DBG file `table` (dbgparse's bytes) and `warnings` (its lines as it
// prints them); for a table `check` ("N entries" or "byte N: expected ...",
// as qbdump --check says) and `listing` (qbdump's standard output).
export function expectations(all) {
  const dir = mkdtempSync(join(tmpdir(), "dbgparse-web-"));
  const out = join(dir, "out");
  mkdirSync(out);
  const warnings = warningPrinter(dir);
  const expected = new Map();
  for (const c of all) writeFileSync(join(dir, c.name), c.bytes);
  for (const c of all) {
    if (!c.table) {
      const tablePath = join(out, `${c.name}.qb`);
      execFileSync(join(native, "dbgparse"), [c.name, tablePath], { cwd: dir, stdio: ["ignore", "ignore", "pipe"] });
      const lines = execFileSync(warnings, [c.name], { cwd: dir, encoding: "latin1" });
      expected.set(c.name, { table: new Uint8Array(readFileSync(tablePath)), warnings: lines.split("\n").filter(Boolean) });
    } else {
      const check = spawnSync(join(native, "qbdump"), ["--check", c.name], { cwd: dir, encoding: "latin1" });
      const said = check.status === 0
        ? check.stdout.replace(/^(\d+) entr(y|ies),.*\n$/s, "$1 entries")
        : check.stderr.split("\n")[0].replace(`qbdump: ${c.name}: `, "");
      const list = spawnSync(join(native, "qbdump"), [c.name], { cwd: dir });
      expected.set(c.name, { check: said, listing: new Uint8Array(list.stdout) });
    }
  }
  return { dir, expected };
}

// The warnings as dbgparse prints them: native_warnings.c over the release
// build's library.
function warningPrinter(dir) {
  const program = join(dir, "native_warnings");
  execFileSync("cc", ["-std=c99", "-O1", "-Wall", "-Werror", "-I", join(root, "lib/include"),
    join(root, "web/test/native_warnings.c"), join(native, "lib/libdbgparse.a"), "-lstdc++", "-lpthread", "-o", program]);
  return program;
}

// The page's and dbgparse's form of a warning.
export function warningLine(name, { line, message }) {
  return line > 0 ? `dbgparse: ${name}:${line}: warning: ${message}` : `dbgparse: ${name}: warning: ${message}`;
}
