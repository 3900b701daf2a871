// The page's worker: converts, restores or checks one file at a time with the
// module, reading the file through a stream, handing it to the module an
// area at a time and gathering what comes out into Blobs: neither the file
// nor the output is ever whole in the module's memory or here.
//
// In:  {id, job: "convert" | "restore" | "check", file}
// Out: {id, type: "progress", read}            after each part read, bytes taken
//      {id, type: "done", outcome, ...}         outcome "done" or "damaged"; a
//                                               damaged file's status (its name,
//                                               as the module gives it) and
//                                               message (unmornak's words)
//      {id, type: "failed", reason, detail}     anything else that went wrong;
//                                               reason one of REASONS, detail
//                                               what the page shows beneath
//
// The page says all of it in words; nothing here is shown as it stands but
// unmornak's words and a failure's detail.
//
// Fresh memory costs more than the bytes copied into it, so the buffers here
// are made once and kept for every job.
"use strict";

const MORE = 1;
const ERROR_MEMORY = -4;
const ERROR_TOO_LARGE = -6;
const ERROR_INPUT_LONGER = -7;
const ERROR_INPUT_SHORTER = -8;
const JOBS = { convert: 0, restore: 1, check: 2 };
const HEADER_BYTES = 8;
// Why a job failed, for the page to say.
const REASONS = {
  memory: "memory",         // the module could not make its context
  tooLarge: "too-large",    // over the most bytes a .bk header can give
  unreadable: "unreadable", // the browser would not read the file
  changed: "changed",       // the file's size changed while it was read
  codec: "codec",           // a status of the module's that no file causes; detail: its name
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

function fromBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// The module's bytes are handed over, so the loader fetches nothing.
const ready = createMornak({ wasmBinary: fromBase64(MODULE_BASE64) });

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

async function run(m, id, job, file) {
  const started = performance.now();
  const size = file.size;
  let status = m._web_begin(JOBS[job], size);
  if (status === ERROR_MEMORY) throw new Failure(REASONS.memory);
  if (status === ERROR_TOO_LARGE) throw new Failure(REASONS.tooLarge);
  const input = m._web_input_area();
  const area = m._web_input_capacity();
  const parts = []; // Blobs of the output so far
  let batchBytes = 0; // output in the batch, not in a Blob yet
  let written = 0;
  let read = 0;
  let codecMs = 0; // in the module's calls and copying to and from its memory
  const reader = file.stream().getReader({ mode: "byob" });
  try {
    for (;;) {
      // The first part holds the whole header unless the file is shorter.
      const bytes = await readPart(reader, read === 0 ? Math.min(HEADER_BYTES, size) : 1);
      read += bytes.length;
      if (read > size || (bytes.length === 0 && read < size)) throw new Failure(REASONS.changed);
      const last = read === size;
      let t0 = performance.now();
      let at = 0;
      do { // in pieces the module's input area holds; once for an empty file
        const piece = bytes.subarray(at, at + area);
        at += piece.length;
        m.HEAPU8.set(piece, input);
        status = m._web_give(piece.length, last && at === bytes.length ? 1 : 0);
        while (status === MORE) {
          status = m._web_step();
          let n = m._web_produced();
          let from = m._web_output();
          while (n > 0) { // copied out at once: the next step may write there again
            if (batchBytes === batch.length) {
              codecMs += performance.now() - t0;
              parts.push(new Blob([batch]));
              batchBytes = 0;
              t0 = performance.now();
            }
            const k = Math.min(n, batch.length - batchBytes);
            batch.set(m.HEAPU8.subarray(from, from + k), batchBytes);
            batchBytes += k;
            written += k;
            from += k;
            n -= k;
          }
          if (status === MORE && m._web_wants_input()) break;
        }
      } while (status === MORE && at < bytes.length);
      codecMs += performance.now() - t0;
      self.postMessage({ id, type: "progress", read });
      if (status !== MORE || last) break;
    }
  } finally {
    if (read < size) reader.cancel().catch(() => {}); // the browser need not read on
  }
  const name = m.UTF8ToString(m.ccall("web_output_name", "number", ["number", "string"], [JOBS[job], file.name]));
  if (status === 0) {
    const result = { id, type: "done", outcome: "done", name, size, written, codecMs };
    if (job === "check") result.length = m._web_length();
    else result.blob = new Blob([...parts, batch.subarray(0, batchBytes)], { type: "application/octet-stream" });
    result.ms = performance.now() - started;
    return result;
  }
  if (status === ERROR_INPUT_LONGER || status === ERROR_INPUT_SHORTER) {
    throw new Failure(REASONS.changed);
  }
  const message = m.UTF8ToString(m._web_fault_message());
  if (job !== "convert" && message !== "") {
    // The status a step returned is the fault's own.
    const name = m.UTF8ToString(m._web_status_name(status));
    return { id, type: "done", outcome: "damaged", status: name, message, size, ms: performance.now() - started };
  }
  throw new Failure(REASONS.codec, m.UTF8ToString(m._web_status_name(status)));
}

self.onmessage = async (event) => {
  const { id, job, file } = event.data;
  try {
    self.postMessage(await run(await ready, id, job, file));
  } catch (error) {
    const failure = error instanceof Failure ? error
      : new Failure(REASONS.unexpected, String((error && error.message) || error));
    self.postMessage({ id, type: "failed", reason: failure.reason, detail: failure.detail });
  }
};
