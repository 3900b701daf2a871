// The page: a row per chosen or dropped file, worked on one after another by
// the worker, each ending with its result and, for a file made, a link that
// saves it.
"use strict";

const MAX_INPUT = 2147483647; // the most bytes a .bk header can give
const numbers = new Intl.NumberFormat("en-US");
const rows = document.getElementById("rows");
const announce = document.getElementById("announce");
const checkOnly = document.getElementById("check-only");

// Chromium starts no worker from a file:// address; a Blob URL of the inline
// source works from anywhere.
const workerUrl = URL.createObjectURL(
  new Blob([document.getElementById("worker-source").textContent], { type: "text/javascript" }));
let worker = null;
const queue = [];
let current = null; // {id, row, job, file, parts}
let nextId = 1;

function startWorker() {
  worker = new Worker(workerUrl);
  worker.onmessage = (event) => onMessage(event.data);
  worker.onerror = (event) => {
    event.preventDefault();
    // A worker that died takes its job with it; the next job gets a new one.
    worker.terminate();
    worker = null;
    if (current) finish(current, "failed", `failed: ${event.message || "the worker stopped"}`);
  };
}

function element(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

function duration(ms) {
  return ms < 1000 ? `${Math.max(1, Math.round(ms))} ms` : `${(ms / 1000).toFixed(2)} s`;
}

function addRow(file) {
  const row = element("li");
  const parts = {
    name: element("span", "name", file.name),
    bar: element("progress"),
    result: element("span", "result", "waiting"),
  };
  parts.bar.max = Math.max(file.size, 1);
  parts.bar.value = 0;
  parts.bar.setAttribute("aria-label", `progress of ${file.name}`);
  row.append(parts.name, parts.bar, parts.result);
  row.dataset.state = "waiting";
  rows.append(row);
  return { row, parts };
}

function finish(item, state, text, link) {
  const { row, parts } = item;
  row.dataset.state = state;
  parts.result.textContent = text;
  if (state !== "done" || item.job === "check") parts.bar.remove();
  else parts.bar.value = parts.bar.max;
  if (link) {
    const a = element("a", "", `Save ${link.name}`);
    a.href = URL.createObjectURL(link.blob);
    a.download = link.name;
    row.append(" ", a);
  }
  announce.textContent = `${parts.name.textContent}: ${text}`;
  if (item === current) {
    current = null;
    pump();
  }
}

function describe(item, m) {
  const sizes = `${numbers.format(m.size)} → ${numbers.format(m.written)} bytes`;
  if (item.job === "check") return `OK, ${m.length} bytes, ${duration(m.ms)}`;
  if (item.job === "restore") return `restored ${m.name}: ${sizes}, ${duration(m.ms)}`;
  const ratio = m.size === 0 ? "n/a (empty input)" : (m.written / m.size).toFixed(3);
  return `converted to ${m.name}: ${sizes}, Out/In ${ratio}, ${duration(m.ms)}`;
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
  if (m.type === "failed") finish(item, "failed", `failed: ${m.message}`);
  else if (m.outcome === "damaged") finish(item, "damaged", m.message);
  else finish(item, "done", describe(item, m), item.job === "check" ? null : { name: m.name, blob: m.blob });
}

function pump() {
  if (current || queue.length === 0) return;
  current = queue.shift();
  current.row.dataset.state = "working";
  current.parts.result.textContent = `${current.job === "convert" ? "converting" : current.job === "restore"
    ? "restoring" : "checking"}…`;
  if (!worker) startWorker();
  worker.postMessage({ id: current.id, job: current.job, file: current.file });
}

function take(files) {
  for (const file of files) {
    const item = { id: nextId++, file, ...addRow(file) };
    const isBk = file.name.endsWith(".bk");
    item.job = isBk ? (checkOnly.checked ? "check" : "restore") : "convert";
    if (!isBk && checkOnly.checked) {
      finish(item, "skipped", "not checked: only .bk files are checked");
    } else if (file.size > MAX_INPUT) {
      const limit = item.job === "convert" ? "a .bk file can hold" : "this page takes";
      finish(item, "refused", `refused: ${numbers.format(file.size)} bytes is more than the ` +
        `${numbers.format(MAX_INPUT)} ${limit}`);
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
