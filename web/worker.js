// The page's worker: converts, restores or checks one file at a time with
// the npm package (js/mornak.js), reading the file through a stream, handing
// it over a part at a time and gathering what comes out into Blobs: neither
// the file nor the output is ever whole in the module's memory or here.
// assemble.py puts the package's source before this one in one script and
// drops the import below, whose names the package then declares.
//
// In:  {id, job: "convert" | "restore" | "check", file}
// Out: {type: "ready"}                         once, when the package is ready
//      {id, type: "progress", read}            after each part read, bytes taken
//      {id, type: "done", outcome, ...}         outcome "done" or "damaged"; a
//                                               damaged file's status (the C
//                                               enumerator's name) and message
//                                               (unmornak's words)
//      {id, type: "failed", reason, detail}     anything else that went wrong;
//                                               reason one of REASONS, detail
//                                               what the page shows beneath
//
// The page says all of it in words; nothing here is shown as it stands but
// unmornak's words and a failure's detail.
//
// Fresh memory costs more than the bytes copied into it, so the buffers here
// are made once and kept for every job.
import { BkError, Decoder, Encoder, Verifier, bkName, contentSize, restoredName } from "mornak";

const LARGEST_FILE = 2147483647; // the most bytes a .bk header can give
const HEADER_SIZE = 8;
// Why a job failed, for the page to say.
const REASONS = {
  memory: "memory",         // the module could not make its context
  tooLarge: "too-large",    // over the most bytes a .bk header can give
  unreadable: "unreadable", // the browser would not read the file
  changed: "changed",       // the file's size changed while it was read
  codec: "codec",           // a status of the library's that no file causes; detail: its name
  unexpected: "unexpected", // anything else thrown here; detail: its message
};

class Failure extends Error {
  constructor(reason, detail = "") {
    super(reason);
    this.reason = reason;
    this.detail = detail;
  }
}

// Output is gathered here and put into a Blob when it is full: a Blob costs
// more than its bytes alone, so few large ones cost less than many small
// ones. A Blob holds a copy of its bytes.
const batch = new Uint8Array(16 << 20);
// The file is read into this buffer: the stream takes it for each read and
// gives it back with the bytes, as many as have arrived, up to its size.
const READ_BYTES = 1 << 20;
let readBuffer = new ArrayBuffer(READ_BYTES);

// Reads into the read buffer until it holds at least `least` bytes or the
// file ends: a view of what it holds, valid until the next call.
async function readPart(reader, least) {
  let filled = 0;
  while (filled < least) {
    let result;
    try {
      result = await reader.read(new Uint8Array(readBuffer, filled, READ_BYTES - filled));
    } catch {
      readBuffer = new ArrayBuffer(READ_BYTES); // the failed read keeps the one it took
      // Chromium says "network error" of a file it will not read.
      throw new Failure(REASONS.unreadable);
    }
    const { done, value } = result;
    readBuffer = value ? value.buffer : new ArrayBuffer(READ_BYTES);
    if (done) break;
    filled += value.length;
  }
  return new Uint8Array(readBuffer, 0, filled);
}

// What the library refused that no file's damage explains.
function failureOf(error) {
  if (error.status === "MORNAK_ERROR_MEMORY") return new Failure(REASONS.memory);
  if (error.status === "MORNAK_ERROR_TOO_LARGE") return new Failure(REASONS.tooLarge);
  if (error.status === "MORNAK_ERROR_INPUT_LONGER" || error.status === "MORNAK_ERROR_INPUT_SHORTER") {
    return new Failure(REASONS.changed);
  }
  return new Failure(REASONS.codec, error.status);
}

async function run(id, job, file) {
  const started = performance.now();
  const size = file.size;
  if (size > LARGEST_FILE) throw new Failure(REASONS.tooLarge);
  let context;
  try {
    // The .bk file's size makes a fault's words count to its end, as unmornak's do.
    context = job === "convert" ? new Encoder({ size }) : job === "restore" ? new Decoder({ size }) : new Verifier({ size });
  } catch (error) {
    throw error instanceof BkError ? failureOf(error) : error;
  }
  const parts = []; // Blobs of the output so far
  let batchBytes = 0; // output in the batch, not in a Blob yet
  let written = 0;
  let read = 0;
  let codecMs = 0; // in the package's calls, copying to and from the module included, making Blobs not
  const first = new Uint8Array(HEADER_SIZE); // the file's first bytes: a .bk file's header
  const reader = file.stream().getReader({ mode: "byob" });
  // Each run of output, a view of the module's memory, copied at once.
  const gather = (out) => {
    for (let from = 0; from < out.length;) {
      if (batchBytes === batch.length) {
        const t0 = performance.now();
        parts.push(new Blob([batch]));
        codecMs -= performance.now() - t0;
        batchBytes = 0;
      }
      const k = Math.min(out.length - from, batch.length - batchBytes);
      batch.set(out.subarray(from, from + k), batchBytes);
      batchBytes += k;
      from += k;
    }
    written += out.length;
  };
  try {
    for (;;) {
      // The first part holds the whole header unless the file is shorter.
      const bytes = await readPart(reader, read === 0 ? Math.min(HEADER_SIZE, size) : 1);
      if (read < HEADER_SIZE) first.set(bytes.subarray(0, HEADER_SIZE - read), read);
      read += bytes.length;
      if (read > size || (bytes.length === 0 && read < size)) throw new Failure(REASONS.changed);
      const last = read === size;
      const t0 = performance.now();
      if (job === "check") {
        context.push(bytes);
        if (last) context.finish();
      } else {
        context.push(bytes, gather);
        if (last) context.finish(gather);
      }
      codecMs += performance.now() - t0;
      self.postMessage({ id, type: "progress", read });
      if (last) break;
    }
  } catch (error) {
    if (!(error instanceof BkError)) throw error;
    if (job === "convert" || error.status === "MORNAK_ERROR_MEMORY") throw failureOf(error);
    return { id, type: "done", outcome: "damaged", status: error.status, message: error.message, size,
      ms: performance.now() - started };
  } finally {
    context.free();
    if (read < size) reader.cancel().catch(() => {}); // the browser need not read on
  }
  const name = job === "convert" ? bkName(file.name) : restoredName(file.name) ?? "restored";
  const result = { id, type: "done", outcome: "done", name, size, written, codecMs };
  if (job === "check") result.length = contentSize(first.subarray(0, Math.min(size, HEADER_SIZE)));
  else result.blob = new Blob([...parts, batch.subarray(0, batchBytes)], { type: "application/octet-stream" });
  result.ms = performance.now() - started;
  return result;
}

self.onmessage = async (event) => {
  const { id, job, file } = event.data;
  try {
    self.postMessage(await run(id, job, file));
  } catch (error) {
    const failure = error instanceof Failure ? error
      : new Failure(REASONS.unexpected, String((error && error.message) || error));
    self.postMessage({ id, type: "failed", reason: failure.reason, detail: failure.detail });
  }
};
self.postMessage({ type: "ready" });
