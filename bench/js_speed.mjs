// The npm package's one-shot calls in Node beside the native library's
// (bench/library_speed), on real files of 1 MB and more: 20 MB of
// /usr/include headers, the cmake and gdb executables, libstdc++.so and each
// file of ../shared/corpus/ that large, when that folder is there.
//
//   node bench/js_speed.mjs [--runs N] [--build DIR] [--no-gc]
//     --runs   timed runs after one warm-up (default 5); the median is shown
//     --build  the bench preset's build (default build/bench), for library_speed
//     --no-gc  no garbage collection before each run (below)
//
// Run it on one core as `taskset -c 0 node bench/js_speed.mjs`: library_speed
// then runs on that core too. The native figure is the mean of its medians
// right before and right after the package's runs of that input. Every output
// of the package is compared with the library's own (compress: its .bk
// restores to the input; decompress: the input).
//
// Each timed run follows a garbage collection, as in a program that drops
// one result before it makes the next: the memory of the arrays returned
// is then used again, as library_speed uses its buffers again. Without it,
// each result lands in memory the system has yet to give, which costs here
// about as much as restoring does (docs/javascript.md).
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { parseArgs } from "node:util";
import v8 from "node:v8";
import vm from "node:vm";
import { compress, decompress } from "../js/mornak.js";

const root = path.dirname(path.dirname(fileURLToPath(import.meta.url)));
const { values } = parseArgs({ options: { runs: { type: "string", default: "5" },
  build: { type: "string", default: "build/bench" }, "no-gc": { type: "boolean", default: false } } });
const runs = Number(values.runs);
const librarySpeed = path.resolve(root, values.build, "bench/library_speed");
const MB = 1e6;
v8.setFlagsFromString("--expose-gc");
const gc = values["no-gc"] ? () => {} : vm.runInNewContext("gc");

function concatenated(files, size) {
  const out = Buffer.alloc(size);
  let at = 0;
  for (const file of files) {
    if (at === size) break;
    at += fs.readFileSync(file).copy(out, at);
  }
  return out.subarray(0, at);
}

function headers(dir) {
  return fs.readdirSync(dir, { withFileTypes: true, recursive: true })
    .filter((e) => e.isFile() && e.name.endsWith(".h"))
    .map((e) => path.join(e.parentPath ?? e.path, e.name))
    .sort();
}

const inputs = [["headers-20MB.txt", () => concatenated(headers("/usr/include"), 20_000_000)]];
for (const [name, file] of [["cmake.exe", "/usr/bin/cmake"], ["gdb.exe", "/usr/bin/gdb"],
  ["libstdc++.so", "/usr/lib/x86_64-linux-gnu/libstdc++.so.6"]]) {
  if (fs.existsSync(file)) inputs.push([name, () => fs.readFileSync(file)]);
}
const corpus = path.resolve(root, "../shared/corpus");
if (fs.existsSync(corpus)) {
  for (const name of fs.readdirSync(corpus).sort()) {
    const file = path.join(corpus, name);
    if (fs.statSync(file).isFile() && fs.statSync(file).size >= MB) inputs.push([name, () => fs.readFileSync(file)]);
  }
}

// MB/s of each way, median of the library's runs: {convert_one_shot, restore_one_shot}.
function native(file) {
  const out = execFileSync(librarySpeed, [file, String(runs)], { encoding: "utf8" });
  return Object.fromEntries(out.trim().split("\n").map((line) => line.split(" ")).map(([way, median]) => [way, Number(median)]));
}

function median(values) {
  return [...values].sort((a, b) => a - b)[values.length >> 1];
}

// MB/s of `call` over `size` bytes, median of the timed runs.
function timed(call, size) {
  const seconds = [];
  for (let run = 0; run <= runs; run++) {
    gc();
    const start = process.hrtime.bigint();
    call();
    if (run > 0) seconds.push(Number(process.hrtime.bigint() - start) / 1e9);
  }
  return size / median(seconds) / MB;
}

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "mornak-js-speed-"));
const rows = [];
try {
  for (const [name, make] of inputs) {
    const input = make();
    if (input.length < MB) continue;
    const file = path.join(scratch, name);
    fs.writeFileSync(file, input);
    const before = native(file);
    const bk = compress(input);
    if (!Buffer.from(decompress(bk)).equals(input)) throw new Error(`${name}: the package's .bk does not restore`);
    const convert = timed(() => compress(input), input.length);
    const restore = timed(() => decompress(bk), input.length);
    const after = native(file);
    const mean = (way) => (before[way] + after[way]) / 2;
    rows.push({ name, size: input.length, convert, nativeConvert: mean("convert_one_shot"), restore,
      nativeRestore: mean("restore_one_shot") });
    fs.rmSync(file);
  }
} finally {
  fs.rmSync(scratch, { recursive: true, force: true });
}

const f = (x) => x.toFixed(1);
console.log(`Node ${process.version}, ${os.cpus()[0].model}, ${runs} runs after a warm-up` +
  `${values["no-gc"] ? "" : ", each after a garbage collection"}, medians, MB = 10^6 bytes`);
console.log("| Input | Size | compress MB/s | native | ÷ native | decompress MB/s | native | ÷ native |");
console.log("|---|--:|--:|--:|--:|--:|--:|--:|");
for (const r of rows) {
  console.log(`| ${r.name} | ${r.size.toLocaleString("en")} | ${f(r.convert)} | ${f(r.nativeConvert)} | ` +
    `${(r.convert / r.nativeConvert).toFixed(2)} | ${f(r.restore)} | ${f(r.nativeRestore)} | ` +
    `${(r.restore / r.nativeRestore).toFixed(2)} |`);
}
