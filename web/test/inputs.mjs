// Inputs the tests and speed runs make, the same on every machine, and the
// native programs that give the bytes the page must match.
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { ROOT } from "./browser.mjs";
import { header, pack } from "./damaged.mjs";

export { header, pack };

export const NATIVE = path.resolve(process.env.MORNAK_NATIVE ?? path.join(ROOT, "build/release"));

// mulberry32: a small generator, so that every run makes the same bytes.
function generator(seed) {
  let a = seed >>> 0;
  return () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

// Words of a made-up language, the common ones far more often, in sentences
// and lines: text whose dictionary fills.
export function text(size, seed) {
  const random = generator(seed);
  const letters = "etaoinshrdlucmfwypvbgkjqxz";
  const words = Array.from({ length: 3000 }, () => {
    let w = "";
    for (let n = 1 + Math.floor(random() * 9); n > 0; n--) w += letters[Math.floor(random() ** 2 * 26)];
    return w;
  });
  const out = Buffer.alloc(size);
  let at = 0;
  let line = 0;
  while (at < size) {
    let word = words[Math.floor(random() ** 3 * words.length)];
    if (random() < 0.08) word += random() < 0.5 ? "," : ".";
    line += word.length + 1;
    const end = line > 72 ? "\n" : " ";
    if (line > 72) line = 0;
    at += out.write(word + end, at, "latin1");
  }
  return out;
}

// 32-byte records: a counter, small numbers, a name from a short list.
export function records(size, seed) {
  const random = generator(seed);
  const names = ["north", "south", "east", "west", "centre"];
  const out = Buffer.alloc(size);
  for (let at = 0, i = 0; at + 32 <= size; at += 32, i++) {
    out.writeUInt32LE(i, at);
    out.writeUInt16LE(Math.floor(random() * 1000), at + 4);
    out.writeFloatLE(random() * 100, at + 8);
    out.write(names[Math.floor(random() * names.length)], at + 12, "latin1");
  }
  return out;
}

export function noise(size, seed) {
  const random = generator(seed);
  const out = Buffer.alloc(size);
  for (let i = 0; i < size; i++) out[i] = Math.floor(random() * 256);
  return out;
}

// Long runs of one byte, and of short patterns.
export function runs(size) {
  const out = Buffer.alloc(size, "a");
  out.fill(0, size >> 2, size >> 1);
  out.fill("xyz", size >> 1, (size * 3) >> 2);
  return out;
}

// A .bk file with header `length`, then `codes` and the closing codes, all
// 11 bits wide.
export function bk(length, codes, closing = [257, 0, 0, 0]) {
  return Buffer.concat([header(length), pack([...codes, ...closing], 11)]);
}

// Runs a native program in `folder`.
export function native(program, args, folder) {
  const run = spawnSync(path.join(NATIVE, program), args, { cwd: folder, encoding: "latin1" });
  if (run.error) throw new Error(`${program}: ${run.error.message} (build it with cmake --preset release)`);
  return run;
}

// mornak's .bk of each file in `folder`, made in a copy of its own under
// `scratch`: name -> {name, bytes}.
export function convertNatively(folder, names, scratch) {
  const made = {};
  names.forEach((name, i) => {
    const own = path.join(scratch, String(i));
    fs.mkdirSync(own, { recursive: true });
    fs.copyFileSync(path.join(folder, name), path.join(own, name));
    const run = native("mornak", [name], own);
    if (run.status !== 0) throw new Error(`mornak ${name}: ${run.stdout}`);
    const bkName = fs.readdirSync(own).find((n) => n !== name);
    made[name] = { name: bkName, bytes: fs.readFileSync(path.join(own, bkName)) };
  });
  return made;
}

// What unmornak says of the .bk file `name` in `folder`, after its
// "unmornak: NAME: ": restoring (into a scratch output) and with --test, ""
// where it succeeds; and --test's "OK, N bytes" for a file that passes.
export function unmornakWords(folder, name) {
  const words = (run) => run.status === 0 ? "" : run.stderr.replace(`unmornak: ${name}: `, "").trimEnd();
  const restored = native("unmornak", [name, `${name}.restored`], folder);
  fs.rmSync(path.join(folder, `${name}.restored`), { force: true });
  const tested = native("unmornak", ["--test", name], folder);
  return { restore: words(restored), test: words(tested), passed: tested.stdout.replace(`${name}: `, "").trimEnd() };
}
