// The page's speed in headless Chromium, for bench/web.py: each file is
// chosen RUNS + 1 times (the first only warms up) in a page of its own, once
// to convert and once its .bk to restore; the first result of each is saved
// and compared with what it must be.
//
//   node web/test/speed.mjs RUNS INPUT BK [INPUT BK ...]
//   -> JSON: [{input, size, convert: {ms, codecMs}, restore: {ms, codecMs}}]
//      ms: the whole job as the page times it (reading the file, the module,
//      collecting the output), codecMs: the time inside the module's calls;
//      each the list of timed runs.
import fs from "node:fs";
import { choose, launch, open, rows, save } from "./browser.mjs";

const [runs, ...files] = process.argv.slice(2);
const browser = await launch();
const results = [];
try {
  for (let i = 0; i < files.length; i += 2) {
    const [input, bk] = [files[i], files[i + 1]];
    const result = { input, size: fs.statSync(input).size };
    for (const [direction, chosen, expected] of [["convert", input, bk], ["restore", bk, input]]) {
      const { context, page } = await open(browser);
      const timed = { ms: [], codecMs: [] };
      for (let run = 0; run <= Number(runs); run++) {
        await choose(page, [chosen]);
        const row = (await rows(page, run + 1, 600000))[run];
        if (row.state !== "done") throw new Error(`${chosen}: ${row.result}`);
        if (run === 0) {
          if (!(await save(page, 0)).bytes.equals(fs.readFileSync(expected))) {
            throw new Error(`${chosen}: the page's ${direction} output differs from ${expected}`);
          }
          continue;
        }
        timed.ms.push(row.ms);
        timed.codecMs.push(row.codecMs);
      }
      result[direction] = timed;
      await context.close();
    }
    results.push(result);
    process.stderr.write(`  ${input}: done\n`);
  }
} finally {
  await browser.close();
}
process.stdout.write(JSON.stringify(results));
