// The package beside the programs: the C tests' round-trip rows, converted
// by the native mornak (test/run writes both into MORNAK_ROWS: NAME and
// NAME.bk), and the damaged files of tests/data/damaged.txt, with the
// library's verdicts and unmornak's words.
import { test } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { compress, contentSize, decompress, verify, Decoder, Verifier, BkError } from "../mornak.js";
import { damagedFiles } from "../../web/test/damaged.mjs";

const ROWS = process.env.MORNAK_ROWS;
if (!ROWS) throw new Error("MORNAK_ROWS: the folder test/run fills with the rows and mornak's .bk files");
const rows = fs.readdirSync(ROWS).filter((name) => !name.endsWith(".bk")).sort();
const read = (name) => new Uint8Array(fs.readFileSync(path.join(ROWS, name)));

test("every row of the C tests is here", () => assert.ok(rows.length >= 30, `${rows.length} rows`));

for (const name of rows) {
  test(`${name}: mornak's .bk byte for byte; it restores, passes and gives its size`, () => {
    const [input, bk] = [read(name), read(`${name}.bk`)];
    assert.deepEqual(compress(input), bk);
    assert.deepEqual(decompress(bk), input);
    verify(bk);
    assert.equal(contentSize(bk), input.length);
  });
}

// The library's verdicts and unmornak's words, from the one-shot calls; the
// streaming contexts fed a byte at a time find the same fault at the same
// byte (their words count only the bytes they were given).
for (const row of damagedFiles()) {
  const file = new Uint8Array(row.file);
  const [restores, passes] = [row.restoring === "MORNAK_OK", row.checking === "MORNAK_OK"];
  // The words are restoring's, or checking's when only that fails.
  const checkingWords = restores || (row.checking === row.restoring && row.checkingAt === row.fault.atByte);
  const bytewise = (context) => () => {
    try {
      for (let i = 0; i < file.length; i++) context.push(file.subarray(i, i + 1));
      context.finish();
    } finally {
      context.free();
    }
  };
  const fails = (call, status, atByte, words, more = {}) => assert.throws(call, (e) => {
    assert.ok(e instanceof BkError, e);
    assert.deepEqual({ status: e.status, atByte: e.atByte, ...Object.fromEntries(Object.keys(more).map((k) => [k, e[k]])) },
      { status, atByte, ...more });
    if (words !== undefined) assert.equal(e.message, words);
    return true;
  });
  test(`${row.name}: ${row.restoring} restoring, ${row.checking} checking`, () => {
    const { code, restored } = row.fault;
    if (restores) assert.equal(decompress(file).length, restored);
    else fails(() => decompress(file), row.restoring, row.fault.atByte, row.words, { code, restored });
    if (!restores) fails(bytewise(new Decoder()), row.restoring, row.fault.atByte, undefined, { code, restored });
    if (passes) verify(file);
    else {
      fails(() => verify(file), row.checking, row.checkingAt, checkingWords ? row.words : undefined);
      fails(bytewise(new Verifier()), row.checking, row.checkingAt);
    }
  });
}
