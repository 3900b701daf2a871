// The damaged .bk files of tests/data/damaged.txt, the table the library's
// and unmornak's tests read too (its top describes a row; the C++ reader is
// tests/damaged_files.cpp): each file made from its steps, with the
// decoder's and the verifier's verdicts and unmornak's words. It needs
// nothing of the browser's: the npm package's tests read it too.
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";

const TABLE = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../../tests/data/damaged.txt");

// Codes `width` bits wide, most significant bit first; the bits of a last
// byte that the codes do not fill are left out, as mornak leaves them.
export function pack(codes, width) {
  const bits = [];
  for (const code of codes) for (let i = width - 1; i >= 0; i--) bits.push((code >>> i) & 1);
  const out = Buffer.alloc(bits.length >> 3);
  for (let i = 0; i < 8 * out.length; i++) out[i >> 3] |= bits[i] << (7 - (i & 7));
  return out;
}

// A .bk header: "book" and `length`, 32-bit little-endian.
export function header(length) {
  const bytes = Buffer.from("book\0\0\0\0", "latin1");
  bytes.writeUInt32LE(length, 4);
  return bytes;
}


// The bytes a row's steps make, each step adding to or changing those before.
function makeFile(steps) {
  let file = Buffer.alloc(0);
  for (const step of steps.split(";")) {
    const [verb, ...args] = step.trim().split(/\s+/);
    if (verb === "") continue;
    if (verb === "book") file = Buffer.concat([file, header(Number(args[0]))]);
    else if (verb === "raw") file = Buffer.concat([file, Buffer.from(args[0], "hex")]);
    else if (verb.endsWith(":")) file = Buffer.concat([file, pack(args.map(Number), parseInt(verb, 10))]);
    else if (verb === "cut") {
      const size = Number(args[0]);
      file = Buffer.concat([file.subarray(0, size), Buffer.alloc(Math.max(0, size - file.length))]);
    } else if (verb === "set") {
      const at = Number(args[0]);
      if (at >= file.length) throw new Error(`damaged.txt: set ${at} past the end of the file`);
      file[at] = parseInt(args[1], 16);
    } else throw new Error(`damaged.txt: no step ${verb}`);
  }
  return file;
}

// Every row: {name, file, restoring, checking, words, fault, checkingAt},
// restoring and checking the status names of the decoder's and the
// verifier's verdicts, fault the decoder's {status, atByte, code, restored}
// and checkingAt the verifier's byte.
export function damagedFiles() {
  return fs.readFileSync(TABLE, "utf8").split("\n")
    .filter((line) => line.trim() !== "" && !line.startsWith("#"))
    .map((line) => {
      const fields = line.split("|").map((field) => field.trim());
      if (fields.length !== 5) throw new Error(`a row of damaged.txt needs 5 fields: ${line}`);
      const [name, steps, restoring, checking, words] = fields;
      const [decoder, atByte, code, restored] = restoring.split(/\s+/);
      const fault = { status: decoder, atByte: Number(atByte), code: Number(code), restored: Number(restored) };
      const [verifier, checkingAt] = checking === "same" ? [decoder, atByte] : checking.split(/\s+/);
      return { name, file: makeFile(steps), restoring: decoder, checking: verifier, words, fault, checkingAt: Number(checkingAt) };
    });
}
