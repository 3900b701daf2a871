// Types of mornak.js: the .bk codec, the C library in WebAssembly.

/** The library's version, as "MAJOR.MINOR.PATCH": the package's own. */
export const version: string;

/** Thrown for whatever the library reports: a damaged .bk file, or a call it refuses. */
export class BkError extends Error {
  /** The C enumerator's name, e.g. "MORNAK_ERROR_UNDEFINED_CODE". */
  readonly status: string;
  /** The byte of the .bk file (header included) where the fault was found; the damage may lie earlier. */
  readonly atByte: number;
  /** The code concerned (an undefined code, a misplaced CLEAR_CODE, ...), else 0. */
  readonly code: number;
  /** Bytes restored before the fault. */
  readonly restored: number;
}

/** The .bk file of `bytes`, byte for byte what the programs write. */
export function compress(bytes: Uint8Array): Uint8Array;
/** The bytes the .bk file restores; throws BkError when it is damaged. */
export function decompress(bk: Uint8Array): Uint8Array;
/** What `unmornak --test` checks; throws BkError. */
export function verify(bk: Uint8Array): void;
/** The content's length from the header; throws BkError when the header gives none. */
export function contentSize(bk: Uint8Array): number;

export interface EncoderOptions {
  /** The exact number of bytes that will follow, 0 to 2,147,483,647. */
  size?: number;
}

/** Given to push or finish instead of taking an array back: called with each run of output, a
 * view of the module's memory valid only until it returns (copy what is kept), with no copy made
 * before. It may not call the package; if it throws, the Encoder or Decoder is of no more use. */
export type Receive = (bytes: Uint8Array) => void;

/** Converts in chunks; call free() when done (the garbage collector frees it otherwise, later). */
export class Encoder {
  constructor(options?: EncoderOptions);
  /** The .bk bytes the chunk gives; often none. */
  push(chunk: Uint8Array): Uint8Array;
  push(chunk: Uint8Array, receive: Receive): void;
  /** The rest of the .bk file. */
  finish(): Uint8Array;
  finish(receive: Receive): void;
  /** The 8 header bytes: with a size, at any time; without one, after finish(), to be written
   * at offset 0 over the first 8 bytes; null before. */
  readonly header: Uint8Array | null;
  free(): void;
}

export interface ReaderOptions {
  /** The .bk file's size, when known: a fault's words then count the bytes after the stream's end
   * to it, as unmornak's do; else they count the bytes given so far. */
  size?: number;
}

/** Restores in chunks; throws BkError on damage. */
export class Decoder {
  constructor(options?: ReaderOptions);
  push(chunk: Uint8Array): Uint8Array;
  push(chunk: Uint8Array, receive: Receive): void;
  /** The last bytes; throws BkError when the stream is not whole. */
  finish(): Uint8Array;
  finish(receive: Receive): void;
  free(): void;
}

/** Checks in chunks, as verify() does; throws BkError on damage. */
export class Verifier {
  constructor(options?: ReaderOptions);
  push(chunk: Uint8Array): void;
  finish(): void;
  free(): void;
}

/** The name `mornak` gives the .bk file of `path`. */
export function bkName(path: string): string;
/** The name `unmornak` restores `path` to; null when it does not end in ".bk" or is just ".bk". */
export function restoredName(path: string): string | null;

/** A stream from bytes to their .bk file. */
export interface CompressStream extends TransformStream<Uint8Array, Uint8Array> {
  /** Once the stream has ended: the 8 header bytes. Without a size they differ from the first 8
   * bytes the stream gave (length FF FF FF FF), which must be overwritten with them. Rejects when
   * the stream fails or is cancelled. */
  readonly header: Promise<Uint8Array>;
}

export function compressStream(options?: EncoderOptions): CompressStream;
/** A stream from a .bk file to the bytes it restores; errors with BkError on damage. */
export function decompressStream(): TransformStream<Uint8Array, Uint8Array>;
