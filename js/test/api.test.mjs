// The package's own promises: any chunking gives the one-shot bytes, both
// ways and through the streams; a header patched for a size not known; wrong
// types and sizes refused; random damage always ends in BkError or bytes,
// with unmornak's words for it (MORNAK_NATIVE: the release build).
import { test } from "node:test";
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import * as mornak from "../mornak.js";
import { BkError, compress, compressStream, contentSize, decompress, decompressStream, Decoder, Encoder, verify } from "../mornak.js";

// Rows of the C tests' round trips (MORNAK_ROWS, as test/run fills it): text
// that fills a dictionary and noise that starts fresh ones; and 8 MiB of one
// byte, whose few .bk bytes restore in many runs of the decoder.
const ROWS = process.env.MORNAK_ROWS;
if (!ROWS) throw new Error("MORNAK_ROWS: the folder test/run fills with the rows");
const SOURCES = Object.fromEntries(["empty", "one_byte", "text", "random_clears_after_each_fill"]
  .map((name) => [name, new Uint8Array(fs.readFileSync(path.join(ROWS, name)))]));
SOURCES.one_byte_value = new Uint8Array(8 << 20).fill(120);

function chunks(bytes, size) {
  const out = [];
  for (let at = 0; at < bytes.length; at += size) out.push(bytes.subarray(at, at + size));
  return out;
}

function concat(parts) {
  const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
  let at = 0;
  for (const p of parts) out.set(p, (at += p.length) - p.length);
  return out;
}

async function throughStream(stream, parts) {
  const out = [];
  await new Blob([]).stream().pipeThrough(new TransformStream({
    start(controller) { for (const p of parts) controller.enqueue(p); },
  })).pipeThrough(stream).pipeTo(new WritableStream({ write(chunk) { out.push(chunk); } }));
  return concat(out);
}

// Each way of converting or restoring, given the chunks: the whole output.
const WAYS = {
  "Encoder with its size": (parts, whole) => {
    const e = new Encoder({ size: whole.length });
    const out = concat([...parts.map((p) => e.push(p)), e.finish()]);
    assert.deepEqual(e.header, out.subarray(0, 8));
    e.free();
    return out;
  },
  "Encoder without a size, its header patched in": (parts) => {
    const e = new Encoder();
    assert.equal(e.header, null);
    const out = concat([...parts.map((p) => e.push(p)), e.finish()]);
    assert.deepEqual([...out.subarray(4, 8)], [255, 255, 255, 255]);
    out.set(e.header, 0);
    e.free();
    return out;
  },
  "Encoder with its size, each run given to a function": (parts, whole) => {
    const e = new Encoder({ size: whole.length });
    const out = [];
    const keep = (view) => out.push(view.slice());
    for (const p of parts) assert.equal(e.push(p, keep), undefined);
    e.finish(keep);
    e.free();
    return concat(out);
  },
  "compressStream with its size": (parts, whole) => throughStream(compressStream({ size: whole.length }), parts),
  "compressStream without a size, its header patched in": async (parts) => {
    const stream = compressStream();
    const out = await throughStream(stream, parts);
    out.set(await stream.header, 0);
    return out;
  },
  Decoder: (parts) => {
    const d = new Decoder();
    const out = concat([...parts.map((p) => d.push(p)), d.finish()]);
    d.free();
    return out;
  },
  "Decoder, each run given to a function": (parts) => {
    const d = new Decoder();
    const out = [];
    const keep = (view) => out.push(view.slice());
    for (const p of parts) d.push(p, keep);
    d.finish(keep);
    d.free();
    return concat(out);
  },
  decompressStream: (parts) => throughStream(decompressStream(), parts),
  // Addresses past 2 GiB come out of the module as negative numbers.
  "Decoder made while 1,100 others hold the module's memory past 2 GiB": (parts) => {
    const held = Array.from({ length: 1100 }, () => new Decoder());
    try {
      return WAYS.Decoder(parts);
    } finally {
      for (const d of held) d.free();
    }
  },
};

for (const [way, run] of Object.entries(WAYS)) {
  const restoring = way.startsWith("D") || way.startsWith("d");
  for (const size of [1, 4093, 1 << 20, 3 << 20]) {
    test(`${way}, chunks of ${size}: the one-shot bytes`, async () => {
      for (const [name, input] of Object.entries(SOURCES)) {
        const bk = compress(input);
        const [given, expected] = restoring ? [bk, input] : [input, bk];
        if (size === 1 && given.length > 100_000) continue; // a byte at a time: the short ones
        assert.deepEqual(await run(chunks(given, size), given), expected, name);
      }
    });
  }
}

test("wrong types are TypeErrors; sizes outside 0 to 2^31 - 1 are refused as the library refuses them", async () => {
  const calls = [
    () => compress("text"), () => decompress([98, 111]), () => verify(null), () => contentSize(new ArrayBuffer(8)),
    () => new Encoder({ size: "5" }), () => new Encoder({ size: -1 }), () => new Encoder({ size: 1.5 }),
    () => new Encoder(7), () => new Encoder().push(new Uint16Array(2)), () => new Decoder().push("book"),
    () => mornak.bkName(5),
  ];
  for (const call of calls) assert.throws(call, TypeError, String(call));
  for (const call of [() => new Encoder({ size: 2 ** 31 }), () => compressStream({ size: 2 ** 40 })]) {
    assert.throws(call, (e) => e instanceof BkError && e.status === "MORNAK_ERROR_TOO_LARGE");
  }
  await assert.rejects(throughStream(decompressStream(), ["book"]), TypeError);
  const e = new Encoder();
  e.free();
  assert.throws(() => e.push(new Uint8Array(1)), /freed/);
  assert.throws(() => new Decoder().push(new Uint8Array(1), "f"), TypeError);
});

test("a function given output may not call the package, and one that throws ends its context", () => {
  const bk = compress(SOURCES.text);
  const calls = [() => compress(SOURCES.one_byte), (d) => d.free(), () => mornak.bkName("a")];
  for (const call of calls) {
    const d = new Decoder();
    const receive = () => call(d);
    assert.throws(() => { d.push(bk, receive); d.finish(receive); }, /may not call/);
    assert.throws(() => d.finish(), /stopped/);
    d.free();
  }
  assert.deepEqual(decompress(bk), SOURCES.text); // the shared areas are whole again
});

test("the programs' names and the version are the library's", () => {
  const rows = [["story.txt", "story.bk", "story.bk", "story"], ["a.b/readme", "a.b/readme.bk", ".bk", null],
    [".profile", ".profile.bk", "x.BK", null]];
  for (const [input, bk, given, restored] of rows) {
    assert.equal(mornak.bkName(input), bk);
    assert.equal(mornak.restoredName(given), restored);
  }
  const pkg = JSON.parse(fs.readFileSync(new URL("../package.json", import.meta.url), "utf8"));
  assert.equal(mornak.version, pkg.version);
});

// Random damage: flipped bits, a cut, bytes dropped or added, in files of
// each kind. Each ends in bytes of the header's length or a BkError, the
// same in chunks as in one piece, with unmornak's words and exit status.
test("random damage ends in BkError with unmornak's words, or in the header's length of bytes", () => {
  const native = process.env.MORNAK_NATIVE;
  if (!native) throw new Error("MORNAK_NATIVE: the folder of the native unmornak");
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "mornak-js-damage-"));
  let seed = 12345;
  const random = (n) => { seed = (Math.imul(seed, 1103515245) + 12345) >>> 0; return seed % n; };
  const outcome = (call) => { try { return { bytes: call() }; } catch (e) { return { error: e }; } };
  try {
    const files = Object.values(SOURCES).filter((s) => s.length > 1 && s.length < 1e6).map((s) => compress(s.subarray(0, 20_000)));
    for (let round = 0; round < 150; round++) {
      let file = files[round % files.length].slice();
      const kind = random(4);
      if (kind === 0) for (let n = 1 + random(3); n > 0; n--) file[random(file.length)] ^= 1 << random(8);
      else if (kind === 1) file = file.subarray(0, random(file.length));
      else if (kind === 2) { const at = random(file.length); file = concat([file.subarray(0, at), file.subarray(at + 1 + random(9))]); }
      else { const at = random(file.length); file = concat([file.subarray(0, at), new Uint8Array([random(256)]), file.subarray(at)]); }
      const whole = outcome(() => decompress(file));
      const checked = outcome(() => verify(file));
      const d = new Decoder({ size: file.length });
      const chunked = outcome(() => concat([...chunks(file, 1 + random(4000)).map((c) => d.push(c)), d.finish()]));
      d.free();
      fs.writeFileSync(path.join(scratch, "f.bk"), file);
      const words = (args) => {
        const run = spawnSync(path.join(native, "unmornak"), args, { cwd: scratch, encoding: "latin1" });
        return run.status === 0 ? null : run.stderr.replace("unmornak: f.bk: ", "").trimEnd();
      };
      const where = `round ${round}`;
      for (const [result, said] of [[whole, words(["f.bk", "out"])], [checked, words(["--test", "f.bk"])]]) {
        if (result.error) {
          assert.ok(result.error instanceof BkError, `${where}: ${result.error}`);
          assert.equal(result.error.message, said, where);
        } else assert.equal(said, null, where);
      }
      if (whole.error) assert.deepEqual({ ...chunked.error, message: chunked.error.message },
        { ...whole.error, message: whole.error.message }, where);
      else {
        assert.equal(whole.bytes.length, contentSize(file), where);
        assert.deepEqual(chunked.bytes, whole.bytes, where);
      }
    }
  } finally {
    fs.rmSync(scratch, { recursive: true, force: true });
  }
});
