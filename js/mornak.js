// The .bk codec: the C library compiled to WebAssembly (module.cpp), with
// nothing but this file around it. The module's bytes come inlined
// (wasm.js), so it loads alike from file://, a bundler, Node and a worker,
// and it is ready before the import resolves: every call is synchronous but
// the streams.
//
// Bytes go into the module through its input area, a chunk at a time, and
// come out copied into arrays of the caller's (or handed to a function of
// the caller's as views): memory inside the module holds the contexts and
// never the whole of a file, so it stays as large as the most contexts alive
// at once (2 MiB an Encoder or Decoder, 5.1 MiB a Verifier) and 3 MiB of
// areas.
import MODULE_BASE64 from "./wasm.js";

const OK = 0;
const MORE = 1;
const ERROR_MEMORY = -4;
const ERROR_TOO_LARGE = -6;
const MAX_INPUT = 2147483647; // the most bytes a .bk header can give
const HEADER_BYTES = 8;
// Restored bytes are gathered into an array of the header's length, made
// at once (growing an array would write the bytes twice, into memory never
// touched before, which costs more than restoring them), unless the header
// claims more than the stream can hold (mostContent) and more than this
// many times the .bk file and 64 MiB: a damaged header is not trusted with
// gigabytes, and the array starts there and grows as the stream bears the
// claim out.
const FIRST_GUESS_RATIO = 16;
const FIRST_GUESS_FLOOR = 64 << 20;

// The most content a .bk file of `size` bytes can hold: its codes are 11
// bits or more, and the k-th code of a dictionary stands for at most k
// bytes, so n codes for at most n(n + 1) / 2.
function mostContent(size) {
  const codes = Math.floor(Math.max(0, size - HEADER_BYTES) * 8 / 11);
  return codes * (codes + 1) / 2;
}

function fromBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

const { instance } = await WebAssembly.instantiate(fromBase64(MODULE_BASE64), {
  // proc_exit is where an abort in the module ends (the C++ runtime's, when
  // memory for a name cannot be had): an error here, not an exit.
  wasi_snapshot_preview1: { proc_exit: (code) => { throw new Error(`mornak: the module ended (${code})`); } },
  env: { emscripten_notify_memory_growth: () => {} },
});
const m = instance.exports;
m._initialize();

// A view of the module's memory; growing it detaches the old one. Its
// addresses reach 4 GiB, and the module gives them as signed 32-bit
// numbers: every address read from it is taken `>>> 0` before it indexes
// this view.
let heapView = new Uint8Array(m.memory.buffer);
function heap() {
  if (heapView.byteLength === 0) heapView = new Uint8Array(m.memory.buffer);
  return heapView;
}
const inputArea = m.js_input_area() >>> 0;
const inputCapacity = m.js_input_capacity();
const decoderOfText = new TextDecoder();
const encoderOfText = new TextEncoder();

function cString(pointer) {
  const bytes = heap();
  pointer >>>= 0;
  let end = pointer;
  while (bytes[end] !== 0) end++;
  return decoderOfText.decode(bytes.subarray(pointer, end));
}

function statusName(status) {
  return cString(m.js_status_name(status));
}

const versionNumber = m.js_version(); // MAJOR * 10000 + MINOR * 100 + PATCH
export const version = `${Math.floor(versionNumber / 10000)}.${Math.floor(versionNumber / 100) % 100}.${versionNumber % 100}`;

/** What the library reports: a damaged .bk file in unmornak's words, or a call it refuses. */
export class BkError extends Error {
  constructor(status, message, atByte = 0, code = 0, restored = 0) {
    super(message);
    this.name = "BkError";
    this.status = status;
    this.atByte = atByte;
    this.code = code;
    this.restored = restored;
  }
}

// The fault a decoder or verifier holds (js_*_fault read it into the
// module), as a BkError. bkSize: the bytes of the .bk file seen; length: the
// header's, 0 when the header gives none.
function faultError(bkSize, length) {
  const status = statusName(m.js_fault_status());
  return new BkError(status, cString(m.js_fault_text(bkSize, length)), m.js_fault_at_byte(), m.js_fault_code(),
    m.js_fault_restored());
}

// A status that is no fault of a file: its name says it.
function statusError(status) {
  const name = statusName(status);
  return new BkError(name, name);
}

function bytesOf(value, what) {
  if (!(value instanceof Uint8Array)) {
    throw new TypeError(`mornak: ${what} must be a Uint8Array, not ${value === null ? "null" : typeof value}`);
  }
  return value;
}

// The length a .bk header gives, or 0 when the first 8 bytes give none.
function headerLength(first) {
  if (first.length < HEADER_BYTES || first[0] !== 0x62 || first[1] !== 0x6f || first[2] !== 0x6f || first[3] !== 0x6b) {
    return 0;
  }
  const length = new DataView(first.buffer, first.byteOffset, HEADER_BYTES).getInt32(4, true);
  return length < 0 ? 0 : length;
}

// Output gathered from many runs into one array that grows as it must, to
// no more than `limit` bytes unless more come (a decoder never gives more
// than its header's length).
class Gather {
  constructor(capacity, limit = Infinity) {
    this.bytes = new Uint8Array(capacity);
    this.size = 0;
    this.limit = limit;
  }

  add(from, count) {
    if (this.size + count > this.bytes.length) {
      const grown = new Uint8Array(Math.max(this.size + count, Math.min(this.limit, 2 * this.bytes.length)));
      grown.set(this.bytes.subarray(0, this.size));
      this.bytes = grown;
    }
    this.bytes.set(heap().subarray(from, from + count), this.size);
    this.size += count;
  }

  take() {
    const out = this.size === this.bytes.length ? this.bytes : this.bytes.slice(0, this.size);
    this.bytes = new Uint8Array(0);
    this.size = 0;
    return out;
  }
}

// Hands a caller's function each run of output as a view of the module's
// memory, valid only while the function runs.
class Receive {
  constructor(receive) {
    this.receive = receive;
  }

  add(from, count) {
    try {
      this.receive(heap().subarray(from, from + count));
    } catch (error) {
      this.threw = true;
      throw error;
    }
  }
}

// Runs `feed` for a context; a context whose output function threw stopped
// inside a chunk, and is of no more use.
function feedFor(context, gather, ...args) {
  try {
    return feed(...args, gather);
  } catch (error) {
    if (gather && gather.threw) context.broken = true;
    throw error;
  }
}

// Set while a call is at work in the module: a function given the module's
// output must not call in again, which would overwrite the input area in
// use or free the context at work.
let busy = false;
function enter() {
  if (busy) throw new Error("mornak: a function given output may not call the package");
}

// Feeds `bytes` through the input area to `run(finish)`, which returns the
// status and leaves js_produced() bytes at js_output() for `gather`.
// finish is set on the last piece (once, for no bytes at all, when there
// are none). Stops at the first status other than MORE.
function feed(bytes, finish, run, gather) {
  enter();
  busy = true;
  try {
    return feedPieces(bytes, finish, run, gather);
  } finally {
    busy = false;
  }
}

function feedPieces(bytes, finish, run, gather) {
  let at = 0;
  let status = MORE;
  do {
    const piece = bytes.subarray(at, at + inputCapacity);
    at += piece.length;
    heap().set(piece, inputArea);
    m.js_give(piece.length);
    const last = finish && at === bytes.length ? 1 : 0;
    for (;;) {
      status = run(last);
      const produced = m.js_produced();
      if (produced > 0 && gather) gather.add(m.js_output() >>> 0, produced);
      if (status !== MORE) break;
      // MORE with bytes out may leave more to give for the same input.
      if (produced === 0 && !last && !m.js_input_left()) break;
    }
  } while (status === MORE && at < bytes.length);
  return status;
}

// Frees the module's contexts of objects the garbage collector took unfreed.
const leftBehind = new FinalizationRegistry(({ free, pointer }) => free(pointer));

// One context of the module's, owned by a JavaScript object.
class Context {
  constructor(owner, create, free) {
    this.pointer = create();
    if (this.pointer === 0) throw new BkError(statusName(ERROR_MEMORY), statusName(ERROR_MEMORY));
    this.freeContext = free;
    this.owner = owner;
    leftBehind.register(owner, { free, pointer: this.pointer }, this);
  }

  get() {
    if (this.pointer === 0) throw new Error(`mornak: this ${this.owner.constructor.name} was freed`);
    if (this.broken) throw new Error(`mornak: this ${this.owner.constructor.name} stopped when its output function threw`);
    return this.pointer;
  }

  free() {
    if (this.pointer === 0) return;
    enter();
    leftBehind.unregister(this);
    this.freeContext(this.pointer);
    this.pointer = 0;
  }
}

// options.size: undefined, or a whole number of bytes.
function sizeOption(options) {
  if (options === null || typeof options !== "object") throw new TypeError("mornak: options must be an object");
  const { size } = options;
  if (size !== undefined && (typeof size !== "number" || !Number.isInteger(size) || size < 0)) {
    throw new TypeError("mornak: size must be a whole number of bytes, 0 or more");
  }
  return size;
}

function receiver(receive) {
  if (receive !== undefined && typeof receive !== "function") throw new TypeError("mornak: receive must be a function");
  return receive;
}

/** Converts a stream of bytes into a .bk file, a chunk at a time. */
export class Encoder {
  /** size: the exact number of bytes that will follow, when known; without it the header's
   * length is FF FF FF FF until `header` gives the 8 bytes to write at offset 0. */
  constructor(options = {}) {
    const size = sizeOption(options);
    this.context = new Context(this, m.js_encoder_create, m.js_encoder_free);
    const status = m.js_encoder_begin(this.context.get(), size === undefined ? -1 : size);
    if (status < 0) {
      this.context.free();
      throw statusError(status);
    }
  }

  run(chunk, finish, receive) {
    const pointer = this.context.get();
    const gather = receive ? new Receive(receive) : new Gather(2 * chunk.length + 64);
    const status = feedFor(this.context, gather, chunk, finish, (last) => m.js_encoder_run(pointer, last));
    if (status !== (finish ? OK : MORE)) throw statusError(status);
    return receive ? undefined : gather.take();
  }

  /** The .bk bytes that `chunk` gives (often none: the encoder holds a few bits back); or, given
   * `receive`, each run of them passed to it as a view valid only while it runs, with no copy. */
  push(chunk, receive) {
    return this.run(bytesOf(chunk, "chunk"), false, receiver(receive));
  }

  /** The rest of the .bk file; `receive` as for push. */
  finish(receive) {
    return this.run(new Uint8Array(0), true, receiver(receive));
  }

  /** The 8 bytes of the header: with a size, at any time; without one, after finish (else null). */
  get header() {
    if (m.js_encoder_header(this.context.get()) !== OK) return null;
    const header = m.js_header() >>> 0;
    return heap().slice(header, header + HEADER_BYTES);
  }

  /** Releases the module's memory for this encoder; it cannot be used after. */
  free() {
    this.context.free();
  }
}

// Restoring, or checking, in chunks: what Decoder and Verifier share. The
// header's length is needed for unmornak's words of a fault, and the file's
// size, which counts the bytes after the stream's end: options.size, else
// the bytes given so far.
class Reader {
  constructor(options, create, free, begin) {
    this.size = sizeOption(options);
    this.context = new Context(this, create, free);
    begin(this.context.get());
    this.seen = 0; // .bk bytes taken so far
    this.first = new Uint8Array(0); // the file's first bytes, up to the header's 8
  }

  take(chunk, finish, run, fault, gather) {
    const pointer = this.context.get();
    if (this.first.length < HEADER_BYTES) {
      const first = new Uint8Array(Math.min(HEADER_BYTES, this.first.length + chunk.length));
      first.set(this.first);
      first.set(chunk.subarray(0, first.length - this.first.length), this.first.length);
      this.first = first;
    }
    this.seen += chunk.length;
    const status = feedFor(this.context, gather, chunk, finish, (last) => run(pointer, last));
    if (status === (finish ? OK : MORE)) return;
    fault(pointer);
    if (m.js_fault_status() === OK) throw statusError(status); // misuse, no fault of the file
    throw faultError(this.size ?? this.seen, headerLength(this.first));
  }

  free() {
    this.context.free();
  }
}

/** Restores a .bk file, a chunk at a time. options.size: the .bk file's size, when known,
 * for unmornak's words of bytes after the stream's end. */
export class Decoder extends Reader {
  constructor(options = {}) {
    super(options, m.js_decoder_create, m.js_decoder_free, m.js_decoder_begin);
  }

  run(chunk, finish, receive) {
    const gather = receive ? new Receive(receive) : new Gather(Math.min(4 * chunk.length + 4096, FIRST_GUESS_FLOOR));
    this.take(chunk, finish, m.js_decoder_run, m.js_decoder_fault, gather);
    return receive ? undefined : gather.take();
  }

  /** The bytes that `chunk` restores; throws BkError on damage. `receive` as for Encoder's push. */
  push(chunk, receive) {
    return this.run(bytesOf(chunk, "chunk"), false, receiver(receive));
  }

  /** The last restored bytes; throws BkError when the stream is not whole. */
  finish(receive) {
    return this.run(new Uint8Array(0), true, receiver(receive));
  }
}

/** Checks a .bk file, a chunk at a time, as verify() does; options as Decoder's. */
export class Verifier extends Reader {
  constructor(options = {}) {
    super(options, m.js_verifier_create, m.js_verifier_free, m.js_verifier_begin);
  }

  /** Throws BkError on damage found so far. */
  push(chunk) {
    this.take(bytesOf(chunk, "chunk"), false, m.js_verifier_run, m.js_verifier_fault, null);
  }

  /** Throws BkError unless the file is exactly what the encoder writes for the bytes it restores. */
  finish() {
    this.take(new Uint8Array(0), true, m.js_verifier_run, m.js_verifier_fault, null);
  }
}

// The one-shot calls reuse one context of each kind, made on first use.
let shared = { encoder: null, decoder: 0, verifier: 0 };

/** The .bk file of `bytes`, byte for byte what the programs write. */
export function compress(bytes) {
  bytesOf(bytes, "bytes");
  if (bytes.length > MAX_INPUT) throw statusError(ERROR_TOO_LARGE);
  const pointer = shared.encoder ?? (shared.encoder = sharedContext(m.js_encoder_create));
  const status = m.js_encoder_begin(pointer, bytes.length);
  if (status < 0) throw statusError(status);
  const gather = new Gather(Math.floor(bytes.length / 2) + 64);
  const end = feed(bytes, true, (last) => m.js_encoder_run(pointer, last), gather);
  if (end !== OK) throw statusError(end);
  return gather.take();
}

function sharedContext(create) {
  const pointer = create();
  if (pointer === 0) throw statusError(ERROR_MEMORY);
  return pointer;
}

/** The bytes the .bk file `bk` restores; throws BkError when it is damaged. */
export function decompress(bk) {
  bytesOf(bk, "bk");
  const pointer = shared.decoder || (shared.decoder = sharedContext(m.js_decoder_create));
  m.js_decoder_begin(pointer);
  const length = headerLength(bk);
  const gather = new Gather(Math.min(length, Math.max(FIRST_GUESS_FLOOR + FIRST_GUESS_RATIO * bk.length,
    mostContent(bk.length))), length);
  const status = feed(bk, true, (last) => m.js_decoder_run(pointer, last), gather);
  if (status === OK) return gather.take();
  m.js_decoder_fault(pointer);
  throw faultError(bk.length, length);
}

/** What `unmornak --test` checks: throws BkError unless `bk` restores whole and is exactly
 * what the encoder writes for the bytes it restores. */
export function verify(bk) {
  bytesOf(bk, "bk");
  const pointer = shared.verifier || (shared.verifier = sharedContext(m.js_verifier_create));
  m.js_verifier_begin(pointer);
  if (feed(bk, true, (last) => m.js_verifier_run(pointer, last), null) === OK) return;
  m.js_verifier_fault(pointer);
  throw faultError(bk.length, headerLength(bk));
}

/** The content's length, from the header alone; throws BkError when the header gives none. */
export function contentSize(bk) {
  bytesOf(bk, "bk");
  const first = bk.subarray(0, HEADER_BYTES);
  if (first.length === HEADER_BYTES && headerLength(first) > 0) return headerLength(first);
  // The decoder's own verdict on the header, at the byte it gives.
  const pointer = shared.decoder || (shared.decoder = sharedContext(m.js_decoder_create));
  m.js_decoder_begin(pointer);
  const status = feed(first, first.length < HEADER_BYTES, (last) => m.js_decoder_run(pointer, last), null);
  if (status === MORE || status === OK) return 0; // a header of length 0
  m.js_decoder_fault(pointer);
  throw faultError(bk.length, 0);
}

// Fills the input area with a C string; names longer than it are refused.
function withName(path, call) {
  if (typeof path !== "string") throw new TypeError("mornak: a name must be a string");
  enter();
  const bytes = encoderOfText.encode(path);
  if (bytes.includes(0) || bytes.length >= inputCapacity) throw new RangeError("mornak: no such name");
  heap().set(bytes, inputArea);
  heap()[inputArea + bytes.length] = 0;
  const pointer = call();
  return pointer === 0 ? null : cString(pointer);
}

/** The name `mornak` gives the .bk file of `path`: its last extension replaced by .bk. */
export function bkName(path) {
  return withName(path, m.js_bk_name);
}

/** The name `unmornak` restores `path` to: without its .bk; null when it does not end in .bk. */
export function restoredName(path) {
  return withName(path, m.js_restored_name);
}

// A TransformStream over an Encoder or Decoder, which is freed at the end,
// on an error, on a cancel where streams tell of one, and else by the
// garbage collector. ended(error) is told how it ended: null when whole.
function transformWith(context, ended = () => {}) {
  const stop = (error) => {
    context.free();
    ended(error);
  };
  return new TransformStream({
    transform(chunk, controller) {
      try {
        const out = context.push(chunk);
        if (out.length > 0) controller.enqueue(out);
      } catch (error) {
        stop(error);
        throw error;
      }
    },
    flush(controller) {
      let out;
      try {
        out = context.finish();
      } catch (error) {
        stop(error);
        throw error;
      }
      ended(null);
      context.free();
      if (out.length > 0) controller.enqueue(out);
    },
    cancel(reason) {
      stop(reason ?? new Error("mornak: the stream was cancelled"));
    },
  });
}

/** A TransformStream from bytes to their .bk file. With options.size the file is whole as it
 * streams; without it the first 8 bytes hold the length FF FF FF FF (which readers refuse) and
 * the stream's `header` gives, once it has ended, the 8 bytes to write over them. */
export function compressStream(options = {}) {
  const encoder = new Encoder(options);
  let settle;
  const header = new Promise((resolve, reject) => { settle = { resolve, reject }; });
  header.catch(() => {}); // a caller that never asks for it is not told of a failure
  const stream = transformWith(encoder, (error) => error ? settle.reject(error) : settle.resolve(encoder.header));
  Object.defineProperty(stream, "header", { value: header, enumerable: true });
  return stream;
}

/** A TransformStream from a .bk file to the bytes it restores; it errors with BkError on damage. */
export function decompressStream() {
  return transformWith(new Decoder());
}
