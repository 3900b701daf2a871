// The page in headless Chromium, opened from disk as a person would open it:
// every row compares what the page shows and saves with what the native
// programs write and say for the same files.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { PAGE, PAGE_URL, ROOT, choose, launch, open, rows, save } from "./browser.mjs";
import { damagedFiles } from "./damaged.mjs";
import { bk, convertNatively, native, noise, records, runs, text, unmornakWords } from "./inputs.mjs";

const work = fs.mkdtempSync(path.join(os.tmpdir(), "mornak-web-"));
const browser = await launch();
after(async () => {
  await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
});

function folder(name) {
  const dir = path.join(work, name);
  fs.mkdirSync(dir, { recursive: true });
  return dir;
}

function write(dir, files) {
  for (const [name, bytes] of Object.entries(files)) fs.writeFileSync(path.join(dir, name), bytes);
  return Object.keys(files).map((name) => path.join(dir, name));
}

// In the page: how many rows were at work at once, at most, from now on.
function watchStates(page) {
  return page.evaluate(() => {
    window.mostAtWork = 0;
    new MutationObserver(() => {
      const n = document.querySelectorAll('#rows li[data-state="working"]').length;
      window.mostAtWork = Math.max(window.mostAtWork, n);
    }).observe(document.getElementById("rows"), { subtree: true, childList: true, attributes: true });
  });
}

// Chromium saves no hidden file: it drops the leading dots of a download's name.
const savedAs = (name) => name.replace(/^\.+/, "");

// Sizes as the page writes them in en-US, the tests' locale, the number and
// its unit joined by a no-break space.
const sized = (n) => `${n.toLocaleString("en-US")}\u00a0${n === 1 ? "byte" : "bytes"}`;
// A time as the page writes it: whole milliseconds, or seconds to two places.
const TIME = "(\\d{1,3}\u00a0ms|\\d[\\d,]*\\.\\d\\d\u00a0s)";

// What a conversion of `size` bytes into `written` says of the two: the
// share in whole percent, never rounded to 100% when smaller, nor to a
// growth of 0% when larger.
function compared(size, written) {
  if (size === 0) return "the original was empty";
  if (written === size) return "the same size as the original";
  if (written < size) {
    const share = Math.min(99, Math.round((100 * written) / size));
    return share === 0 ? "less than 1% of the original" : `${share}% of the original`;
  }
  const growth = Math.round((100 * (written - size)) / size);
  return growth === 0 ? "grew by less than 1%" : `grew by ${growth}%`;
}

// A sentence for a person: no number, none of the format's terms.
const PLAIN = /^This [^\d]*\.$/;
const JARGON = /\bcodes?\b|_CODE|MORNAK_|\bentry\b|dictionary/i;

const ABC = bk(3, [97, 98, 99]);
const SAMPLE = fs.readFileSync(path.join(ROOT, "samples/sample.txt"));

// Converted together, then their .bk files restored together. The names
// cover mornak's naming: an extension replaced, none, a leading dot only,
// several dots.
const INPUTS = {
  "sample.txt": SAMPLE,
  "text.txt": text(3 << 20, 1),
  "records.bin": records(1 << 20, 2),
  "noise.dat": noise(600_000, 3),
  "runs": runs(1 << 20),
  // Noise after text makes the encoder start fresh dictionaries.
  ".profile": Buffer.concat([text(700_000, 4), noise(500_000, 5), runs(300_000), text(500_000, 6)]),
  "a.b.c": text(5_000, 7),
  "empty.txt": Buffer.alloc(0),
};

describe("several files at once: each converts to mornak's bytes and name, and restores", () => {
  const dir = folder("inputs");
  const paths = write(dir, INPUTS);
  const names = Object.keys(INPUTS);
  const made = convertNatively(dir, names, folder("native"));
  const converted = {};
  const restored = {};
  let page;
  let mostAtWork;

  before(async () => {
    ({ page } = await open(browser));
    await watchStates(page);
    await choose(page, paths);
    const shown = await rows(page, names.length);
    for (const [i, row] of shown.entries()) converted[row.name] = { ...row, saved: row.link && await save(page, i) };
    const bkDir = folder("bk");
    const bkPaths = write(bkDir, Object.fromEntries(names.map((n) => [made[n].name, made[n].bytes])));
    await choose(page, bkPaths);
    const again = (await rows(page, 2 * names.length)).slice(names.length);
    for (const [i, row] of again.entries()) {
      // unmornak restores a copy beside itself, under the name it gives.
      const own = folder(`unmornak-${i}`);
      fs.copyFileSync(path.join(bkDir, row.name), path.join(own, row.name));
      assert.equal(native("unmornak", [row.name], own).status, 0);
      const expected = fs.readdirSync(own).find((n) => n !== row.name);
      restored[row.name] = { ...row, expected, saved: row.link && await save(page, names.length + i) };
    }
    mostAtWork = await page.evaluate(() => window.mostAtWork);
  });

  test("one row per file, in the order chosen, worked one after another", () => {
    assert.deepEqual(Object.keys(converted), names);
    assert.equal(mostAtWork, 1);
  });
  for (const name of names) {
    test(`${name}: mornak's .bk, byte for byte, under mornak's name`, () => {
      const row = converted[name];
      assert.equal(row.state, "done", row.result);
      assert.equal(row.link.download, made[name].name);
      assert.equal(row.saved.name, savedAs(made[name].name));
      assert.ok(row.saved.bytes.equals(made[name].bytes), "the saved bytes differ from mornak's");
      const [size, written] = [INPUTS[name].length, made[name].bytes.length];
      assert.equal(row.result, `Converted to ${made[name].name}: ${compared(size, written)}.`);
      assert.match(row.details, new RegExp(`^${sized(size)} became ${sized(written)} in ${TIME}\\.$`));
    });
    test(`${name}: its .bk restores to the bytes, under unmornak's name`, () => {
      const row = restored[made[name].name];
      assert.equal(row.state, "done", row.result);
      assert.equal(row.link.download, row.expected);
      assert.equal(row.saved.name, savedAs(row.expected));
      assert.ok(row.saved.bytes.equals(INPUTS[name]), "the restored bytes differ from the original");
      assert.equal(row.result, `Restored ${row.expected}.`);
      const [size, written] = [made[name].bytes.length, INPUTS[name].length];
      assert.match(row.details, new RegExp(`^${sized(size)} became ${sized(written)} in ${TIME}\\.$`));
    });
  }
});

// Damaged files, each with what unmornak says of it, restoring and checking.
const flipped = Buffer.from(ABC);
flipped[8] |= 0x80; // the first code becomes 1024 + 97
// Noise gives a .bk of many parts as the worker reads them (1 MiB at most
// each); cut short, it is found damaged where it stops, in the last part.
write(folder("big"), { "big.txt": Buffer.concat([text(1 << 20, 11), noise(13 << 20, 12)]) });
const bigBk = convertNatively(folder("big"), ["big.txt"], folder("big-native"))["big.txt"].bytes;
const lateCut = bigBk.subarray(0, bigBk.length - 1000);
assert.ok(lateCut.length > 1 << 20, `the cut .bk has ${lateCut.length} bytes, all in the first part`);

// name: {file, restoring, checking}, each verdict the status and the words
// unmornak says ("" for nothing wrong): the shared table's rows, sound ones
// among them, and a file too large for the table. The rows compare the page
// with unmornak's own words, and these with what the table or the row
// expects; the page's sentence goes by the status.
const verdict = (status, words) => ({ status, words: status === "MORNAK_OK" ? "" : words });
const DAMAGED = Object.fromEntries(damagedFiles().map((d) =>
  [`${d.name}.bk`, { file: d.file, restoring: verdict(d.restoring, d.words), checking: verdict(d.checking, d.words) }]));
const lateCutVerdict = verdict("MORNAK_ERROR_NO_END_CODE", `damaged: the stream ends at byte ${lateCut.length} before END_CODE`);
DAMAGED["late-cut.bk"] = { file: lateCut, restoring: lateCutVerdict, checking: lateCutVerdict };

test("every status a .bk file can fail with has a damaged file here", () => {
  const header = fs.readFileSync(path.join(ROOT, "include/mornak.h"), "utf8");
  const statuses = header.slice(header.indexOf("MORNAK_ERROR_HEADER_CUT"), header.indexOf("} mornak_status;"))
    .match(/MORNAK_ERROR_\w+(?= = )/g);
  assert.ok(statuses.length >= 12 && statuses.at(-1) === "MORNAK_ERROR_NOT_CANONICAL", statuses.join(" "));
  const found = new Set(Object.values(DAMAGED).flatMap((d) => [d.restoring.status, d.checking.status]));
  assert.deepEqual(statuses.filter((s) => !found.has(s)), [], "statuses no file here fails with");
});

for (const checkOnly of [false, true]) {
  describe(checkOnly ? "check only: unmornak --test's verdict and words, nothing saved"
    : "damaged .bk files: a sentence for each status, unmornak's words beneath, no link", () => {
    const dir = folder(checkOnly ? "check" : "damaged");
    const files = Object.fromEntries(Object.entries(DAMAGED).map(([name, { file }]) => [name, file]));
    const paths = write(dir, { ...files, "plain.txt": SAMPLE });
    const shown = {};
    const sentences = new Map(); // status -> the sentences the page gave it
    before(async () => {
      const { page } = await open(browser);
      await choose(page, paths, { checkOnly });
      for (const row of await rows(page, paths.length)) shown[row.name] = row;
    });
    for (const name of Object.keys(DAMAGED)) {
      test(name, () => {
        const said = unmornakWords(dir, name);
        const words = checkOnly ? said.test : said.restore;
        const expected = checkOnly ? DAMAGED[name].checking : DAMAGED[name].restoring;
        assert.equal(words, expected.words, "unmornak's words");
        const row = shown[name];
        if (words === "") {
          assert.equal(row.state, "done", row.result);
          assert.equal(Boolean(row.link), !checkOnly);
          if (checkOnly) {
            // unmornak --test says "OK, N bytes", N the original's length.
            const length = Number(said.passed.match(/^OK, (\d+) bytes$/)[1]);
            assert.equal(row.result, "OK: no damage found.");
            assert.match(row.details,
              new RegExp(`^${sized(DAMAGED[name].file.length)} restore to ${sized(length)}\\. Checked in ${TIME}\\.$`));
          }
        } else {
          assert.equal(row.state, "damaged");
          const saved = " Nothing was saved.";
          if (!checkOnly) assert.ok(row.result.endsWith(saved), row.result);
          const sentence = checkOnly ? row.result : row.result.slice(0, -saved.length);
          assert.match(sentence, PLAIN);
          assert.doesNotMatch(sentence, JARGON);
          sentences.set(expected.status, new Set([...(sentences.get(expected.status) ?? []), sentence]));
          assert.equal(row.details, words);
          assert.equal(row.link, null);
        }
      });
    }
    test("each status has one sentence, its own", () => {
      const given = [...sentences.values()];
      assert.ok(given.every((set) => set.size === 1), JSON.stringify([...sentences].map(([k, v]) => [k, [...v]])));
      assert.equal(new Set(given.map((set) => [...set][0])).size, given.length, "two statuses share a sentence");
    });
    test(checkOnly ? "a file that is no .bk is not checked" : "a file that is no .bk is converted", () => {
      assert.equal(shown["plain.txt"].state, checkOnly ? "skipped" : "done");
    });
  });
}

test("the words of the example: a plain sentence, and damaged: code 1121, found at byte 8, names no entry yet", async () => {
  const { page } = await open(browser);
  await choose(page, write(folder("example"), { "d.bk": flipped }));
  const [row] = await rows(page, 1);
  assert.equal(row.result, "This file is damaged: part of it cannot be read. Nothing was saved.");
  assert.equal(row.details, "damaged: code 1121, found at byte 8, names no entry yet");
});

test("a file changed after it was chosen fails, and says so; the files after it still work", async () => {
  const dir = folder("changed");
  const [big, changed, after] = write(dir, { "big.txt": text(32 << 20, 13), "changed.txt": SAMPLE, "after.txt": SAMPLE });
  const made = convertNatively(dir, ["after.txt"], folder("changed-native"))["after.txt"];
  const { page } = await open(browser);
  await choose(page, [big, changed]);
  // While big.txt is at work (32 MiB: long enough on a loaded machine), the browser refuses to read it.
  fs.appendFileSync(changed, "more");
  const shown = await rows(page, 2);
  assert.equal(shown[0].state, "done", shown[0].result);
  assert.equal(shown[1].state, "failed", shown[1].result);
  assert.equal(shown[1].result, "Failed: the file could not be read. Was it changed or removed after it was chosen?");
  await choose(page, [after]);
  const row = (await rows(page, 3))[2];
  assert.equal(row.state, "done", row.result);
  assert.ok((await save(page, 2)).bytes.equals(made.bytes), "the saved bytes differ from mornak's");
});

// In the reader's locale: the limit and the file's size, written its way.
for (const [locale, limit, size] of [["en-US", "2,147,483,647", "2,147,483,648"], ["de-DE", "2.147.483.647", "2.147.483.648"]]) {
  test(`files over 2,147,483,647 bytes are refused before any work, in ${locale}`, async () => {
    const dir = folder(`huge-${locale}`);
    const paths = ["huge.txt", "huge.bk"].map((name) => path.join(dir, name));
    for (const p of paths) fs.truncateSync((fs.writeFileSync(p, ""), p), 2 ** 31); // sparse: no disk used
    const { page } = await open(browser, { locale });
    await choose(page, paths);
    const [txt, bkRow] = await rows(page, 2);
    assert.deepEqual([txt.state, bkRow.state, txt.link, bkRow.link], ["refused", "refused", null, null]);
    assert.equal(txt.result, `Too large: a .bk file holds at most ${limit}\u00a0bytes.`);
    assert.equal(bkRow.result, `Too large: this page takes files of at most ${limit}\u00a0bytes.`);
    assert.deepEqual([txt.details, bkRow.details], [`This file has ${size}\u00a0bytes.`, `This file has ${size}\u00a0bytes.`]);
  });
}

test("50 MB: the bar moves, the page stays responsive, the bytes are mornak's both ways", async () => {
  const dir = folder("fifty");
  const input = Buffer.concat([text(40_000_000, 8), records(6_000_000, 9), noise(4_000_000, 10)]);
  const [file] = write(dir, { "fifty.txt": input });
  const made = convertNatively(dir, ["fifty.txt"], folder("fifty-native"))["fifty.txt"];
  const { page } = await open(browser);
  // The main thread's timer ticks every 10 ms and reads the last row's bar.
  await page.evaluate(() => {
    window.ticks = [];
    setInterval(() => {
      const bar = document.querySelector("#rows li:last-child progress");
      window.ticks.push([performance.now(), bar ? bar.value / bar.max : null]);
    }, 10);
  });
  const bkPath = write(folder("fifty-bk"), { [made.name]: made.bytes })[0];
  for (const [i, chosen, expected] of [[0, file, made.bytes], [1, bkPath, input]]) {
    await page.evaluate(() => { window.ticks = []; });
    await choose(page, [chosen]);
    const row = (await rows(page, i + 1, 120000))[i];
    assert.equal(row.state, "done", row.result);
    const ticks = await page.evaluate(() => window.ticks);
    const between = new Set(ticks.map(([, v]) => v).filter((v) => v > 0 && v < 1));
    assert.ok(between.size >= 10, `the bar showed ${between.size} values between empty and full`);
    const gaps = ticks.slice(1).map(([t], k) => t - ticks[k][0]);
    assert.ok(Math.max(...gaps) < 250, `the page did not answer for ${Math.max(...gaps).toFixed(0)} ms`);
    assert.ok((await save(page, i)).bytes.equals(expected), "the saved bytes differ");
  }
});

test("no network request, offline: the only load is the page itself", async () => {
  // The page's policy would block a request unseen; with it bypassed, any
  // request the page or worker makes shows. Every other row runs under it.
  const { context, page, seen } = await open(browser, { bypassCSP: true });
  assert.match(await page.getAttribute('meta[http-equiv="Content-Security-Policy"]', "content"), /^default-src 'none';/);
  await context.setOffline(true);
  const dir = folder("offline");
  await choose(page, write(dir, { "sample.txt": SAMPLE }));
  await rows(page, 1);
  const made = await save(page, 0);
  await choose(page, write(dir, { [made.name]: made.bytes }));
  await rows(page, 2);
  await save(page, 1);
  await choose(page, [path.join(dir, made.name)], { checkOnly: true });
  assert.equal((await rows(page, 3))[2].state, "done");
  const [worker] = page.workers();
  assert.deepEqual(await page.evaluate(() => performance.getEntriesByType("resource").map((e) => e.name)), []);
  assert.deepEqual(await worker.evaluate(() => performance.getEntriesByType("resource").map((e) => e.name)), []);
  // Chromium reports the page and the worker's Blob URL as loads; nothing else may be.
  assert.deepEqual(seen.requests.filter((url) => url !== PAGE_URL && !url.startsWith("blob:")), []);
  assert.deepEqual([...seen.errors, ...seen.console.filter((m) => !m.startsWith("log:"))], []);
});

test("keyboard only: the chooser, check box and link are reached with Tab, show focus, and work", async () => {
  const { page } = await open(browser);
  // Playwright takes over file choosers only once asked to, which takes a
  // moment: asked here, well before the key that opens one.
  page.on("filechooser", () => {});
  const focused = () => page.evaluate(() => {
    const e = document.activeElement;
    const style = getComputedStyle(e);
    return { id: e.id || e.tagName, outline: style.outlineStyle !== "none" && parseFloat(style.outlineWidth) >= 2 };
  });
  await page.keyboard.press("Tab");
  assert.deepEqual(await focused(), { id: "files", outline: true });
  const [chooser] = await Promise.all([page.waitForEvent("filechooser"), page.keyboard.press("Space")]);
  await chooser.setFiles(write(folder("keyboard"), { "sample.txt": SAMPLE }));
  await rows(page, 1);
  await page.keyboard.press("Tab");
  assert.deepEqual(await focused(), { id: "check-only", outline: true });
  await page.keyboard.press("Tab");
  assert.deepEqual(await focused(), { id: "A", outline: true });
  const [download] = await Promise.all([page.waitForEvent("download"), page.keyboard.press("Enter")]);
  assert.equal(download.suggestedFilename(), "sample.bk");
  // What a screen reader is told.
  assert.equal(await page.getByLabel("Files to convert or restore").count(), 1);
  assert.equal(await page.getByRole("checkbox", { name: "Check only: test .bk files, save nothing" }).count(), 1);
  assert.equal(await page.getByRole("link", { name: "Save sample.bk" }).count(), 1);
  assert.match(await page.getByRole("status").textContent(), /^sample\.txt: Converted to sample\.bk: \d+% of the original\.$/);
  // The check box is described by the note that a .bk file carries no checksum.
  assert.match(await page.$eval("#check-only", (box) =>
    document.getElementById(box.getAttribute("aria-describedby")).textContent.replace(/\s+/g, " ")),
  /^A \.bk file has no checksum: some damage restores into other bytes unnoticed/);
});

test("files dropped on the page are taken like chosen ones", async () => {
  const { page } = await open(browser);
  const transfer = await page.evaluateHandle(() => {
    const t = new DataTransfer();
    t.items.add(new File(["abcabcabc"], "dropped.txt"));
    return t;
  });
  await page.dispatchEvent("#drop", "drop", { dataTransfer: transfer });
  const [row] = await rows(page, 1);
  assert.equal(row.state, "done", row.result);
  assert.equal(row.link.download, "dropped.bk");
});

for (const [scheme, dark] of [["light", false], ["dark", true]]) {
  test(`a 360-pixel phone, ${scheme} as the system says: nothing wider than the screen`, async () => {
    const { page } = await open(browser, { viewport: { width: 360, height: 740 }, colorScheme: scheme });
    await choose(page, write(folder(`phone-${scheme}`), {
      "a-rather-long-file-name-without-any-place-to-break-it-on-a-small-screen.txt": SAMPLE, "flipped.bk": flipped,
    }));
    await rows(page, 2);
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 360), "the page is wider than 360 px");
    const background = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
    const level = background.match(/\d+/g).slice(0, 3).reduce((sum, c) => sum + Number(c), 0) / 3;
    assert.equal(level < 128, dark, `background ${background}`);
  });
}

test("the screenshot: converting, restoring, a damaged file and a check", async () => {
  const { page } = await open(browser, { viewport: { width: 900, height: 640 } });
  const dir = folder("screenshot");
  write(dir, { "sample.txt": SAMPLE });
  const made = convertNatively(dir, ["sample.txt"], folder("shot-native"));
  await choose(page, [path.join(dir, "sample.txt"),
    ...write(dir, { "sample.bk": made["sample.txt"].bytes, "flipped.bk": flipped })]);
  await choose(page, [path.join(dir, "sample.bk")], { checkOnly: true });
  const shown = await rows(page, 4);
  assert.deepEqual(shown.map((r) => r.state), ["done", "done", "damaged", "done"]);
  // The whole page, down to the last row's details.
  await page.screenshot({ path: path.join(path.dirname(PAGE), "screenshot.png"), fullPage: true });
});
