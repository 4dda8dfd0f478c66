// Makes the single-file page: node bundle.mjs MODULE.wasm OUT.html
// page.html gets page.js inline, and the worker's script (core.mjs as a plain
// script, the module in base64 and worker.js) as a text block that page.js
// turns into a Blob URL worker. Nothing is fetched when the page runs.
import { readFileSync, writeFileSync } from "node:fs";

const [wasmPath, outPath] = process.argv.slice(2);
const here = (name) => readFileSync(new URL(name, import.meta.url), "utf8");

const core = here("core.mjs").replace(/^export /gm, "");
const wasm = readFileSync(wasmPath).toString("base64");
const worker = `${core}\nconst WASM_BASE64 = "${wasm}";\n${here("worker.js")}`;
const inline = { "/*WORKER*/": worker, "/*PAGE*/": here("page.js") };
for (const [mark, text] of Object.entries(inline)) {
  if (/<\/script/i.test(text)) throw new Error(`${mark}: "</script" would end the block early`);
}
let page = here("page.html");
for (const [mark, text] of Object.entries(inline)) {
  if (!page.includes(mark)) throw new Error(`page.html has no ${mark}`);
  page = page.replace(mark, () => text);
}
writeFileSync(outPath, page);
