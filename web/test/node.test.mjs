// The npm package, installed, against the native programs: node --test in a
// folder where `npm install dbgparse-2.1.0.tgz` was run (see .ci/web.sh).
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { mkdtempSync, readFileSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { test } from "node:test";
import { pathToFileURL } from "node:url";
import * as dbgparse from "dbgparse";
import { cases, expectations, root, warningLine } from "./cases.mjs";

// The installed package's own files: core.mjs and dbgparse.wasm, for an
// instance of the module of its own whose heap the tests may measure.
const packageDir = dirname(createRequire(import.meta.url).resolve("dbgparse/package.json"));
async function ownInstance() {
  const core = await import(pathToFileURL(join(packageDir, "core.mjs")).href);
  return core.instantiate(readFileSync(join(packageDir, "dbgparse.wasm")));
}

const all = cases();
const { expected } = await expectations(all);
const dbgFiles = all.filter((c) => !c.table);
const tables = all.filter((c) => c.table);
// The check of a table as qbdump --check says it.
function checked(table) {
  try {
    return `${dbgparse.entries(table).length} entries`;
  } catch (error) {
    if (!(error instanceof dbgparse.MalformedTableError)) throw error;
    return `byte ${error.offset}: expected ${error.reason}`;
  }
}

test("tables are dbgparse's byte for byte", () => {
  for (const c of dbgFiles) {
    assert.deepEqual(dbgparse.convert(c.bytes), expected.get(c.name).table, c.name);
  }
  assert.ok(dbgFiles.some((c) => expected.get(c.name).table.length > c.bytes.length + 4096), "no table outgrows its input");
});

test("warnings are the ones dbgparse prints", () => {
  for (const c of dbgFiles) {
    const warnings = dbgparse.diagnose(c.bytes);
    const lines = warnings.slice(0, 20).map((w) => warningLine(c.name, w));
    if (warnings.length > 20) lines.push(`dbgparse: ${c.name}: ${warnings.length - 20} more warnings`);
    assert.deepEqual(lines, expected.get(c.name).warnings, c.name);
    // A conversion's kinds: any but the listing's own.
    const listingKinds = [dbgparse.WarningKind.LEFT_OUT, dbgparse.WarningKind.MALFORMED];
    const kinds = Object.values(dbgparse.WarningKind).filter((k) => !listingKinds.includes(k));
    for (const w of warnings) assert.ok(w.offset <= c.bytes.length && kinds.includes(w.kind), c.name);
  }
});

test("entries and faults are qbdump --check's, on tables read and made", () => {
  const made = dbgFiles.map((c) => ({ name: `${c.name}.qb`, bytes: expected.get(c.name).table, check: null }));
  let faults = 0;
  for (const c of tables) {
    const check = checked(c.bytes);
    assert.equal(check, expected.get(c.name).check, c.name);
    faults += check.includes("expected") ? 1 : 0;
  }
  assert.ok(faults > 10, `only ${faults} malformed tables`);
  for (const c of made) assert.match(checked(c.bytes), /^\d+ entries$/, c.name);
});

test("an entry holds its table's bytes", () => {
  for (const c of [...tables.map((t) => t.bytes), ...dbgFiles.map((d) => expected.get(d.name).table)]) {
    let read;
    try {
      read = dbgparse.entries(c);
    } catch {
      continue;
    }
    for (const [k, e] of read.entries()) {
      assert.deepEqual([c[e.offset], c[e.offset + 1]], [k === 0 ? 1 : 0, 0x2b]);
      assert.equal(new DataView(c.buffer, c.byteOffset).getUint32(e.offset + 2, true), e.checksum);
      assert.deepEqual(c.subarray(e.offset + 6, e.offset + 6 + e.name.length), e.name);
      const next = k + 1 < read.length ? read[k + 1].offset : c.length - 2;
      assert.equal(e.offset + 6 + e.name.length + e.padding, next);
    }
  }
});

test("listings are qbdump's", () => {
  for (const c of tables) {
    const { check, listing } = expected.get(c.name);
    if (check.includes("expected")) {
      assert.throws(() => dbgparse.listing(c.bytes), dbgparse.MalformedTableError, c.name);
    } else {
      const listed = dbgparse.listing(c.bytes);
      assert.deepEqual(listed, listing, c.name);
      // The entries it leaves out, as qbdump tells them on its standard error.
      const told = listed.leftOut.map((e) => `qbdump: ${c.name}: entry ${e.entry} at byte ${e.offset} left out: ${e.message}`);
      assert.deepEqual(told, expected.get(c.name).leftOut, c.name);
    }
  }
  assert.ok(tables.some((c) => expected.get(c.name).leftOut.length > 0), "no table with entries a listing leaves out");
});

test("any view of the bytes is taken, and nothing else", () => {
  const bytes = dbgFiles.find((c) => c.name.startsWith("hostile")).bytes;
  const table = dbgparse.convert(bytes);
  const padded = new Uint8Array(bytes.length + 8);
  padded.set(bytes, 3);
  for (const input of [bytes.slice().buffer, padded.subarray(3, 3 + bytes.length), new DataView(padded.buffer, 3, bytes.length)]) {
    assert.deepEqual(dbgparse.convert(input), table);
  }
  for (const wrong of ["text", null, [1, 2], 7]) assert.throws(() => dbgparse.convert(wrong), TypeError);
  assert.deepEqual(dbgparse.convert(new Uint8Array()), Uint8Array.of(0, 0));
});

test("no memory is kept from one call to the next", async () => {
  const api = await ownInstance();
  const run = () => {
    for (const c of all) {
      if (c.table) {
        try {
          api.listing(c.bytes);
          api.entries(c.bytes);
        } catch (error) {
          assert.ok(error instanceof dbgparse.MalformedTableError);
        }
      } else {
        api.diagnose(c.bytes);
        api.convert(c.bytes);
      }
    }
  };
  run();
  const before = api.heapInUse();
  run();
  run();
  assert.equal(api.heapInUse(), before);
});

test("the package: its version is the library's, its declarations name every export", () => {
  const require = createRequire(import.meta.url);
  const manifest = require.resolve("dbgparse/package.json");
  const pkg = JSON.parse(readFileSync(manifest, "utf8"));
  assert.equal(dbgparse.version, pkg.version);
  assert.match(dbgparse.version, /^2\.\d+\.\d+$/);
  const declarations = readFileSync(new URL(pkg.types, `file://${manifest}`), "utf8");
  const declared = [...declarations.matchAll(/^export (?:function|const|class) (\w+)/gm)].map((m) => m[1]);
  assert.deepEqual(declared.sort(), Object.keys(dbgparse).sort());
});

test("a table longer than a 32-bit length can count is a RangeError, never a shorter table", () => {
  // "0x" a hundred million times: an entry every 12 bytes, each of 261
  // bytes, 4.35 GB in all, past the 4 GiB a 32-bit size_t counts.
  const head = new TextEncoder().encode("[Checksums]\r\n");
  const tail = new TextEncoder().encode(" x\r\n");
  const count = 100_000_000;
  const input = new Uint8Array(head.length + 2 * count + tail.length);
  input.set(head, 0);
  new Uint16Array(input.buffer, 0, (head.length + 2 * count + 1) >> 1).fill(0x3078); // "0" at odd offsets, "x" at even ones
  input.set(head, 0);
  input.set(tail, head.length + 2 * count);
  assert.equal(new TextDecoder().decode(input.subarray(head.length, head.length + 6)), "0x0x0x");
  assert.throws(() => dbgparse.convert(input), RangeError);
});

test("warning kinds are named as dbgparse.h names them", () => {
  const header = readFileSync(join(root, "lib/include/dbgparse.h"), "latin1");
  const named = Object.fromEntries([...header.matchAll(/DBGPARSE_WARNING_(\w+) = (\d+)/g)].map((m) => [m[1], Number(m[2])]));
  assert.deepEqual({ ...dbgparse.WarningKind }, named);
  assert.ok(Object.isFrozen(dbgparse.WarningKind));
  const kinds = new Set(Object.values(dbgparse.WarningKind));
  for (const c of dbgFiles) for (const w of dbgparse.diagnose(c.bytes)) assert.ok(kinds.has(w.kind), c.name);
});

test("listing() holds every entry it leaves out; qbdump names 20 and counts the rest", () => {
  const dir = mkdtempSync(join(tmpdir(), "dbgparse-left-out-"));
  for (const count of [0, 20, 21, 25, 1000]) {
    // `count` names holding CR, which no line can make (7 bytes an entry), then "c".
    const table = new Uint8Array(7 * count + 9);
    for (let k = 0; k < count; k++) {
      table.set([k === 0 ? 1 : 0, 0x2b, k & 0xff, k >> 8, 0, 0, 0x0d], 7 * k);
    }
    table.set([count === 0 ? 1 : 0, 0x2b, 7, 0, 0, 0, 0x63, 0, 0], 7 * count);
    const file = join(dir, `t${count}.qb`);
    writeFileSync(file, table);
    const qbdump = spawnSync(join(process.env.DBGPARSE_NATIVE ?? join(root, "build/release"), "qbdump"), [file], { encoding: "latin1" });
    assert.equal(qbdump.status, 0);
    const told = qbdump.stderr.split("\n").filter(Boolean);
    const listed = dbgparse.listing(table);
    assert.equal(new TextDecoder().decode(listed), qbdump.stdout);
    assert.deepEqual(listed.leftOut.map((e) => [e.entry, e.offset]), Array.from({ length: count }, (_, k) => [k + 1, 7 * k]));
    const named = listed.leftOut.slice(0, 20).map((e) => `qbdump: ${file}: entry ${e.entry} at byte ${e.offset} left out: ${e.message}`);
    if (count > 20) named.push(`qbdump: ${file}: ${count - 20} more entries left out, ${count} in all`);
    assert.deepEqual(told, named, `${count} left out`);
  }
});

test("a listing's fault is qbdump --check's", () => {
  for (const c of tables) {
    const { check } = expected.get(c.name);
    if (!check.includes("expected")) continue;
    assert.throws(() => dbgparse.listing(c.bytes), (error) => error.message === check, c.name);
  }
});

test("the package exports its interface and no test hook", () => {
  assert.deepEqual(Object.keys(dbgparse).sort(), [
    "MalformedTableError", "WarningKind", "convert", "diagnose", "entries", "listing", "version",
  ]);
});
