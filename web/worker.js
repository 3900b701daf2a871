// The page's worker: converts, restores or checks one file at a time with the
// module, reading the file in parts, handing each to the module an area at a
// time and gathering what comes out into Blobs: neither the file nor the
// output is ever whole in the module's memory.
//
// In:  {id, job: "convert" | "restore" | "check", file}
// Out: {id, type: "progress", read}            after each area, bytes taken
//      {id, type: "done", outcome, ...}         outcome "done" or "damaged"
//      {id, type: "failed", message}            anything else that went wrong
"use strict";

const MORE = 1;
const ERROR_MEMORY = -4;
const ERROR_TOO_LARGE = -6;
const ERROR_INPUT_LONGER = -7;
const ERROR_INPUT_SHORTER = -8;
const JOBS = { convert: 0, restore: 1, check: 2 };
// Output is gathered here and put into a Blob when it is full: one Blob per
// step costs several times more, and fresh memory for each copy costs more
// than the copy. Kept for every job; a Blob holds a copy of its bytes.
const batch = new Uint8Array(16 << 20);
// Bytes of the file asked for at a time: each request is a round trip to the
// browser, which costs more than the bytes below a few MiB.
const READ = 16 << 20;

function fromBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// The module's bytes are handed over, so the loader fetches nothing.
const ready = createMornak({ wasmBinary: fromBase64(MODULE_BASE64) });

// A promise of the file's bytes [from, to), whose failure is seen when it is
// awaited, not reported as unhandled when a fault ends the job first.
function readPart(file, from, to) {
  const promise = file.slice(from, to).arrayBuffer();
  promise.catch(() => {});
  return promise;
}

async function run(m, id, job, file) {
  const started = performance.now();
  const size = file.size;
  let status = m._web_begin(JOBS[job], size);
  if (status === ERROR_MEMORY) throw new Error("not enough memory for the codec");
  if (status === ERROR_TOO_LARGE) throw new Error(`${size} bytes is more than this page takes`);
  const input = m._web_input_area();
  const area = m._web_input_capacity();
  const parts = []; // Blobs of the output so far
  let batchBytes = 0; // output in the batch, not in a Blob yet
  let written = 0;
  let read = 0;
  let codecMs = 0;
  let next = readPart(file, 0, Math.min(READ, size));
  for (;;) {
    const bytes = new Uint8Array(await next);
    read += bytes.length;
    // The next part is read while this one is worked on.
    const last = read >= size || bytes.length === 0;
    next = last ? null : readPart(file, read, Math.min(read + READ, size));
    const t0 = performance.now();
    let at = 0;
    do { // in pieces the module's input area holds; once for an empty file
      const piece = bytes.subarray(at, at + area);
      at += piece.length;
      m.HEAPU8.set(piece, input);
      status = m._web_give(piece.length, last && at === bytes.length ? 1 : 0);
      while (status === MORE) {
        status = m._web_step();
        const n = m._web_produced();
        const output = m._web_output();
        if (n > 0) {
          // Copied out at once: the area is written again by the next step.
          if (batchBytes + n > batch.length) {
            parts.push(new Blob([batch.subarray(0, batchBytes)]));
            batchBytes = 0;
          }
          batch.set(m.HEAPU8.subarray(output, output + n), batchBytes);
          batchBytes += n;
          written += n;
        }
        if (status === MORE && m._web_wants_input()) break;
      }
      self.postMessage({ id, type: "progress", read: read - bytes.length + at });
    } while (status === MORE && at < bytes.length);
    codecMs += performance.now() - t0;
    if (status !== MORE || last) break;
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
    throw new Error("it changed while being read");
  }
  const message = m.UTF8ToString(m._web_fault_message());
  if (job !== "convert" && message !== "") {
    return { id, type: "done", outcome: "damaged", message, size, ms: performance.now() - started };
  }
  throw new Error(`the codec failed with status ${status}`);
}

self.onmessage = async (event) => {
  const { id, job, file } = event.data;
  try {
    self.postMessage(await run(await ready, id, job, file));
  } catch (error) {
    self.postMessage({ id, type: "failed", message: String((error && error.message) || error) });
  }
};
