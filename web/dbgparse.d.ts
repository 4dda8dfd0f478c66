/** A QB table that breaks: where (a byte offset) and what was expected there, as `qbdump --check` says. */
export class MalformedTableError extends Error {
  readonly name: "MalformedTableError";
  readonly offset: number;
  readonly reason: string;
}

/** One entry of a QB table. */
export interface Entry {
  checksum: number;
  /** The name's bytes, up to its first zero byte. */
  name: Uint8Array;
  /** Zero bytes after the name, before the next marker. */
  padding: number;
  /** The offset of the entry's marker in the table. */
  offset: number;
}

/** One warning about a DBG file: the conversion did what it always does, but the input looks as if its author meant something else. */
export interface Warning {
  /** What it is about: 1 (no section) to 9 (a line not converted), as DBGPARSE_WARNING_* in dbgparse.h. */
  kind: number;
  /** 1-based; 0 when it is about the input as a whole. */
  line: number;
  /** Of the byte it is about, in the input. */
  offset: number;
  /** One English sentence, naming no file. */
  message: string;
}

/** The QB table of a DBG file, byte for byte as the dbgparse program writes it. */
export function convert(dbg: Uint8Array | ArrayBuffer): Uint8Array;
/** The entries of a QB table; throws MalformedTableError where it breaks. */
export function entries(table: Uint8Array | ArrayBuffer): Entry[];
/** An entry that no listing line can make, which the listing leaves out, as `qbdump` tells it: "entry N at byte O left out: MESSAGE". */
export interface LeftOut {
  /** The entry's number in the table, from 1. */
  entry: number;
  /** The offset of its marker in the table. */
  offset: number;
  /** Why no line can make it. */
  message: string;
}

/** The table listed as DBG text, as `qbdump TABLE` writes it, with the entries it leaves out (an empty array when none); throws MalformedTableError where it breaks. */
export function listing(table: Uint8Array | ArrayBuffer): Uint8Array & { readonly leftOut: LeftOut[] };
/** The warnings of the conversion of a DBG file, in input order. */
export function diagnose(dbg: Uint8Array | ArrayBuffer): Warning[];
/** The library's version, "MAJOR.MINOR.PATCH". */
export const version: string;
/** The bytes the module's heap holds between calls: the same after any call as before it. */
export function heapInUse(): number;
