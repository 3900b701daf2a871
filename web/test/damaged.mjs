// The damaged .bk files of tests/data/damaged.txt, the table the library's
// and unmornak's tests read too (its top describes a row; the C++ reader is
// tests/damaged_files.cpp): each file made from its steps, with the
// decoder's and the verifier's verdicts and unmornak's words.
import fs from "node:fs";
import path from "node:path";
import { ROOT } from "./browser.mjs";
import { header, pack } from "./inputs.mjs";

const TABLE = path.join(ROOT, "tests/data/damaged.txt");

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

// Every row: {name, file, restoring, checking, words}, restoring and checking
// the status names of the decoder's and the verifier's verdicts.
export function damagedFiles() {
  return fs.readFileSync(TABLE, "utf8").split("\n")
    .filter((line) => line.trim() !== "" && !line.startsWith("#"))
    .map((line) => {
      const fields = line.split("|").map((field) => field.trim());
      if (fields.length !== 5) throw new Error(`a row of damaged.txt needs 5 fields: ${line}`);
      const [name, steps, restoring, checking, words] = fields;
      const decoder = restoring.split(/\s+/)[0];
      return { name, file: makeFile(steps), restoring: decoder, checking: checking === "same" ? decoder : checking.split(/\s+/)[0], words };
    });
}
