// The WebAssembly module's conversion in Node against the native library
// in-process, on a realistic 64 MiB DBG file, and the page's size. convert()
// returns a new array, whose first writing costs page faults that the native
// figure into a buffer used again does not pay: the module's conversion is
// also timed alone, as the native one is.
//   node bench/web_convert.mjs [--size-mib 64] [--runs 5]
// Needs the `web` and `release` builds (build/web, build/release) and cc.
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { parseArgs } from "node:util";
import { realistic, root } from "../web/test/cases.mjs";

const { values } = parseArgs({ options: { "size-mib": { type: "string", default: "64" }, runs: { type: "string", default: "5" } } });
const size = Number(values["size-mib"]) << 20;
const runs = Number(values.runs);
const { convert, version } = await import(join(root, "build/web/web/package/dbgparse.mjs"));
const { instantiateModule } = await import(join(root, "build/web/web/package/core.mjs"));

const work = mkdtempSync(join(tmpdir(), "dbgparse-bench-"));
try {
  const input = realistic(size);
  const inputPath = join(work, "input.dbg");
  writeFileSync(inputPath, input);

  const program = join(work, "convert_in_process");
  execFileSync("cc", ["-O2", "-std=c99", "-I", join(root, "lib/include"), join(root, "bench/convert_in_process.c"),
    join(root, "build/release/lib/libdbgparse.a"), "-lstdc++", "-o", program]);
  // Lines of "WAY BEST MEDIAN TABLE_SIZE"; the best runs are compared.
  const native = Object.fromEntries(
    execFileSync(program, [inputPath, String(runs)], { encoding: "utf8" }).trim().split("\n")
      .map((line) => line.split(" ")).map(([way, ...figures]) => [way, figures.map(Number)]));
  const [nativeBest, , nativeTable] = native.reused;
  const [nativeFresh] = native.fresh;

  let best = Infinity;
  let tableSize = 0;
  for (let run = 0; run < runs; run++) {
    const start = process.hrtime.bigint();
    tableSize = convert(input).length;
    best = Math.min(best, Number(process.hrtime.bigint() - start) / 1e9);
  }
  if (tableSize !== nativeTable) throw new Error(`tables of ${tableSize} and ${nativeTable} bytes`);

  // The module's conversion alone, as the native figure is: the input put
  // in the module's memory once, each run's table in memory the module has
  // used before (freed after the run), nothing copied out.
  const raw = await instantiateModule(readFileSync(join(root, "build/web/web/dbgparse.wasm")));
  raw._initialize();
  const inputAt = raw.web_malloc(input.length);
  const results = raw.web_malloc(8);
  new Uint8Array(raw.memory.buffer).set(input, inputAt);
  let bestAlone = Infinity;
  for (let run = 0; run < runs; run++) {
    const start = process.hrtime.bigint();
    if (raw.web_convert(inputAt, input.length, results, results + 4) !== 0) throw new Error("web_convert failed");
    bestAlone = Math.min(bestAlone, Number(process.hrtime.bigint() - start) / 1e9);
    raw.web_free(new Uint32Array(raw.memory.buffer)[results >> 2]);
  }

  const mib = input.length / (1 << 20);
  const rate = (seconds) => `${(mib / seconds).toFixed(0)} MiB/s`;
  console.log(`input: ${input.length} bytes (${mib.toFixed(1)} MiB), table ${tableSize} bytes, best of ${runs} runs`);
  console.log(`native library in-process, dbgparse_convert_to into one buffer used again: ${nativeBest.toFixed(3)} s, ${rate(nativeBest)}`);
  console.log(`native library in-process, dbgparse_convert_to into a new buffer each run: ${nativeFresh.toFixed(3)} s, ${rate(nativeFresh)}`);
  console.log(`WebAssembly ${version} in Node ${process.version}, convert() (copies in and out included): ${best.toFixed(3)} s, ${rate(best)}`);
  console.log(`WebAssembly / native speed: ${(nativeBest / best).toFixed(2)} against the buffer used again, ${(nativeFresh / best).toFixed(2)} against a new one`);
  console.log(`WebAssembly conversion alone (web_convert, input in the module's memory): ${bestAlone.toFixed(3)} s, ${rate(bestAlone)}`);
  console.log(`WebAssembly conversion alone / native into the buffer used again: ${(nativeBest / bestAlone).toFixed(2)}`);
  for (const file of ["build/web/web/dbgparse.wasm", "build/web/dbgparse.html"]) {
    console.log(`${file}: ${statSync(join(root, file)).size} bytes`);
  }
} finally {
  rmSync(work, { recursive: true, force: true });
}
