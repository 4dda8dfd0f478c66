// dbgparse for Node and browsers: `import { convert } from "dbgparse"`.
// The module, dbgparse.wasm beside this file, is read once at import.
import { instantiate, MalformedTableError, WarningKind } from "./core.mjs";

const wasmUrl = new URL("./dbgparse.wasm", import.meta.url);

async function wasmBytes() {
  if (wasmUrl.protocol === "file:" && typeof process === "object" && process.versions?.node) {
    const { readFile } = await import("node:fs/promises");
    return readFile(wasmUrl);
  }
  const response = await fetch(wasmUrl);
  if (!response.ok) throw new Error(`dbgparse: cannot load ${wasmUrl}: ${response.status}`);
  return response.arrayBuffer();
}

const api = await instantiate(await wasmBytes());

export { MalformedTableError, WarningKind };
export const { convert, entries, listing, diagnose, version } = api;
