// The page: a row per chosen or dropped file, worked on one after another by
// the worker, each ending with its result in a plain sentence, the details
// smaller beneath and, for a file made, a link that saves it.
"use strict";

const MAX_INPUT = 2147483647; // the most bytes a .bk header can give
// Every number shown is written the reader's way: the browser's locale.
const numbers = new Intl.NumberFormat();
const percent = new Intl.NumberFormat(undefined, { style: "percent", maximumFractionDigits: 0 });
const seconds = new Intl.NumberFormat(undefined, { minimumFractionDigits: 2, maximumFractionDigits: 2 });

// What is wrong with a .bk file, by the status the library found it with;
// unmornak's own words, which give the byte, go beneath.
const FAULTS = {
  MORNAK_ERROR_HEADER_CUT: "This file is damaged: it is too short to be a .bk file.",
  MORNAK_ERROR_NOT_BK: "This is not a .bk file.",
  MORNAK_ERROR_NEGATIVE_LENGTH: "This file is damaged: the size its header gives is impossible.",
  MORNAK_ERROR_UNDEFINED_CODE: "This file is damaged: part of it cannot be read.",
  MORNAK_ERROR_MISPLACED_CLEAR: "This file is damaged: part of it is out of place.",
  MORNAK_ERROR_NO_END_CODE: "This file is damaged: it ends too early.",
  MORNAK_ERROR_SHORT_FILLER: "This file is damaged: its last bytes are missing.",
  MORNAK_ERROR_FILLER_NOT_ZERO: "This file is damaged: its last bytes are wrong.",
  MORNAK_ERROR_TRAILING_BYTES: "This file is damaged: something was added after its end.",
  MORNAK_ERROR_LONGER_THAN_HEADER: "This file is damaged: it holds more than its header says.",
  MORNAK_ERROR_SHORTER_THAN_HEADER: "This file is damaged: it holds less than its header says.",
  MORNAK_ERROR_NOT_CANONICAL: "This file restores, but it is not what mornak writes for those bytes.",
};
// A status the library may find that this page does not know yet.
const SOME_FAULT = "This file is damaged.";

// Why a job failed, by the worker's reason; what went wrong, when there is
// more to say, goes beneath.
const FAILURES = {
  memory: "Failed: there was not enough memory.",
  unreadable: "Failed: the file could not be read. Was it changed or removed after it was chosen?",
  changed: "Failed: the file changed while it was being read.",
  codec: "Failed: something went wrong inside the page.",
  unexpected: "Failed: something went wrong inside the page.",
  stopped: "Failed: the page stopped working on this file.",
};

const rows = document.getElementById("rows");
const announce = document.getElementById("announce");
const checkOnly = document.getElementById("check-only");

// Chromium starts no worker from a file:// address; a Blob URL of the inline
// source works from anywhere. The worker (the npm package's code and its
// own) says "ready" once the package is: jobs wait for that.
const workerUrl = URL.createObjectURL(
  new Blob([document.getElementById("worker-source").textContent], { type: "text/javascript" }));
let worker = null;
let workerReady = false;
const queue = [];
let current = null; // {id, row, job, file, parts}
let nextId = 1;

function startWorker() {
  worker = new Worker(workerUrl);
  workerReady = false;
  worker.onmessage = (event) => {
    if (event.data.type !== "ready") onMessage(event.data);
    else {
      workerReady = true;
      pump();
    }
  };
  worker.onerror = (event) => {
    event.preventDefault();
    // A worker that died takes its job with it, or the first one waiting when
    // it died before it was ready; the next job gets a new one.
    worker.terminate();
    worker = null;
    const item = current ?? queue.shift();
    if (item) {
      current = item;
      finish(item, "failed", FAILURES.stopped, event.message || "");
    }
  };
}

function element(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

// A number and its unit are kept on one line: a no-break space between.
function duration(ms) {
  return ms < 1000 ? `${numbers.format(Math.max(1, Math.round(ms)))}\u00a0ms` : `${seconds.format(ms / 1000)}\u00a0s`;
}

function bytes(n) {
  return `${numbers.format(n)}\u00a0${n === 1 ? "byte" : "bytes"}`;
}

// How the size of what was made compares with its input's, in whole
// percent, never rounded across: a smaller file is never "100%", a larger
// one never "grew by 0%".
function comparedWithOriginal(size, written) {
  if (size === 0) return "the original was empty";
  if (written === size) return "the same size as the original";
  if (written < size) {
    const share = Math.min(99, Math.round((100 * written) / size));
    return share === 0 ? `less than ${percent.format(0.01)} of the original` : `${percent.format(share / 100)} of the original`;
  }
  const growth = Math.round((100 * (written - size)) / size);
  return growth === 0 ? `grew by less than ${percent.format(0.01)}` : `grew by ${percent.format(growth / 100)}`;
}

function addRow(file) {
  const row = element("li");
  const parts = {
    name: element("span", "name", file.name),
    bar: element("progress"),
    result: element("span", "result", "Waiting"),
    details: element("span", "details"),
  };
  parts.bar.max = Math.max(file.size, 1);
  parts.bar.value = 0;
  parts.bar.setAttribute("aria-label", `progress of ${file.name}`);
  row.append(parts.name, parts.bar, parts.result, parts.details);
  row.dataset.state = "waiting";
  rows.append(row);
  return { row, parts };
}

// Ends a row: its sentence, the details beneath ("" for none) and the link.
function finish(item, state, sentence, details = "", link = null) {
  const { row, parts } = item;
  row.dataset.state = state;
  parts.result.textContent = sentence;
  parts.details.textContent = details;
  if (state !== "done" || item.job === "check") parts.bar.remove();
  else parts.bar.value = parts.bar.max;
  if (link) {
    const a = element("a", "", `Save ${link.name}`);
    a.href = URL.createObjectURL(link.blob);
    a.download = link.name;
    parts.result.after(" ", a);
  }
  announce.textContent = `${parts.name.textContent}: ${sentence}`;
  if (item === current) {
    current = null;
    pump();
  }
}

// A job that went well: [sentence, details].
function described(item, m) {
  if (item.job === "check") {
    return ["OK: no damage found.",
      `${bytes(m.size)} restore to ${bytes(m.length)}. Checked in ${duration(m.ms)}.`];
  }
  const details = `${bytes(m.size)} became ${bytes(m.written)} in ${duration(m.ms)}.`;
  if (item.job === "restore") return [`Restored ${m.name}.`, details];
  return [`Converted to ${m.name}: ${comparedWithOriginal(m.size, m.written)}.`, details];
}

// A .bk file found damaged: [sentence, details].
function damaged(item, m) {
  const sentence = FAULTS[m.status] ?? SOME_FAULT;
  return [item.job === "check" ? sentence : `${sentence} Nothing was saved.`, m.message];
}

// The words for a file over MAX_INPUT bytes: [sentence, details].
function tooLarge(item) {
  return [item.job === "convert" ? `Too large: a .bk file holds at most ${bytes(MAX_INPUT)}.`
    : `Too large: this page takes files of at most ${bytes(MAX_INPUT)}.`, `This file has ${bytes(item.file.size)}.`];
}

function onMessage(m) {
  const item = current;
  if (!item || m.id !== item.id) return;
  if (m.type === "progress") {
    item.parts.bar.value = m.read;
    return;
  }
  item.row.dataset.ms = (m.ms ?? 0).toFixed(1);
  item.row.dataset.codecMs = (m.codecMs ?? 0).toFixed(1);
  if (m.type === "failed" && m.reason === "too-large") finish(item, "refused", ...tooLarge(item));
  else if (m.type === "failed") finish(item, "failed", FAILURES[m.reason] ?? FAILURES.unexpected, m.detail);
  else if (m.outcome === "damaged") finish(item, "damaged", ...damaged(item, m));
  else finish(item, "done", ...described(item, m), item.job === "check" ? null : { name: m.name, blob: m.blob });
}

function pump() {
  if (current || queue.length === 0) return;
  if (!worker) startWorker();
  if (!workerReady) return; // its "ready" pumps again
  current = queue.shift();
  current.row.dataset.state = "working";
  current.parts.result.textContent = `${current.job === "convert" ? "Converting" : current.job === "restore"
    ? "Restoring" : "Checking"}…`;
  worker.postMessage({ id: current.id, job: current.job, file: current.file });
}

function take(files) {
  for (const file of files) {
    const item = { id: nextId++, file, ...addRow(file) };
    const isBk = file.name.endsWith(".bk");
    item.job = isBk ? (checkOnly.checked ? "check" : "restore") : "convert";
    if (!isBk && checkOnly.checked) {
      finish(item, "skipped", "Not checked: only .bk files are checked.");
    } else if (file.size > MAX_INPUT) {
      finish(item, "refused", ...tooLarge(item));
    } else {
      queue.push(item);
    }
  }
  pump();
}

const chooser = document.getElementById("files");
chooser.addEventListener("change", () => {
  take(chooser.files);
  chooser.value = ""; // choosing the same files again works again
});

// Files dropped anywhere on the page; the browser must not open them instead.
const drop = document.getElementById("drop");
document.addEventListener("dragover", (event) => {
  event.preventDefault();
  drop.classList.add("over");
});
document.addEventListener("dragleave", () => drop.classList.remove("over"));
document.addEventListener("drop", (event) => {
  event.preventDefault();
  drop.classList.remove("over");
  if (event.dataTransfer && event.dataTransfer.files.length) take(event.dataTransfer.files);
});

startWorker();
