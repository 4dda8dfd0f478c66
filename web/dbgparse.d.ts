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

/** What a warning is about, as DBGPARSE_WARNING_* in dbgparse.h. */
export const WarningKind: {
  /** A non-empty input without a "[Checksums]" CR LF line: the table is empty. */
  readonly NO_SECTION: 1;
  /** The 8 positions after "0x" are not 8 hexadecimal digits and a blank or a tab. */
  readonly VALUE_FIELD: 2;
  /** A "0x" after the start of its line made an entry of its own. */
  readonly INNER_LINE: 3;
  /** An entry without a name ended the table. */
  readonly EMPTY_NAME: 4;
  /** The input ends inside a checksum line: its entry has no name. */
  readonly NO_LINE_END: 5;
  /** A name longer than 255 bytes was cut to 255. */
  readonly NAME_CUT: 6;
  /** A zero byte in a name: the rest became zero bytes. */
  readonly NAME_ZERO_BYTE: 7;
  /** A name ending in blanks or tabs, kept in the table. */
  readonly NAME_END_BLANK: 8;
  /** A line that looks like a checksum line made no entry. */
  readonly NOT_CONVERTED: 9;
  /** listing(): an entry no listing line can make (see LeftOut). */
  readonly LEFT_OUT: 10;
  /** listing(): where a table breaks (thrown as MalformedTableError). */
  readonly MALFORMED: 11;
  /** A name that reads as something else: a leading blank or tab, "=", ":"
   * or "//" first, or a comment after a blank or a tab. */
  readonly NAME_UNEXPECTED: 12;
};
/** One of WarningKind's values. */
export type WarningKind = (typeof WarningKind)[keyof typeof WarningKind];

/** One warning about a DBG file: the conversion did what it always does, but the input looks as if its author meant something else. */
export interface Warning {
  /** What it is about: WarningKind.NO_SECTION to WarningKind.NOT_CONVERTED. */
  kind: WarningKind;
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
