// Debian's Chromium, headless, driven through playwright-core (which brings
// no browser of its own), and what the tests and the speed runs do with the
// page: open it from disk, choose files, wait for the rows, save the links.
import { chromium } from "playwright-core";
import { fileURLToPath, pathToFileURL } from "node:url";
import fs from "node:fs";
import path from "node:path";

export const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
export const PAGE = path.resolve(process.env.MORNAK_PAGE ?? path.join(ROOT, "build/web/mornak.html"));
export const PAGE_URL = pathToFileURL(PAGE).href;

// Headless as root, and without the background connections Chromium makes on
// its own (updates, sync, safe browsing), which this machine's closed
// network refuses and which would blur what the page itself asks for.
const FLAGS = ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync",
  "--disable-default-apps", "--disable-features=Translate,OptimizationHints,MediaRouter"];

export async function launch() {
  if (!fs.existsSync(PAGE)) throw new Error(`${PAGE} is missing: build it with cmake --workflow --preset web`);
  return chromium.launch({ executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium", headless: true, args: FLAGS });
}

// A fresh context and the page opened from disk, in the locale en-US unless
// `options` give another: the page writes numbers the reader's way, and the
// tests expect one way. `seen` collects every
// request the context makes and every console message (page and worker
// alike) and page error, for the tests that want none.
export async function open(browser, options = {}) {
  const context = await browser.newContext({ acceptDownloads: true, viewport: { width: 900, height: 700 }, locale: "en-US",
    ...options });
  const seen = { requests: [], console: [], errors: [] };
  context.on("request", (request) => seen.requests.push(request.url()));
  const page = await context.newPage();
  const note = (message) => seen.console.push(`${message.type()}: ${message.text()}`);
  page.on("console", note);
  page.on("worker", (worker) => worker.on("console", note));
  page.on("pageerror", (error) => seen.errors.push(String(error)));
  await page.goto(PAGE_URL);
  return { context, page, seen };
}

// Chooses `paths` with the page's file input, with "check only" set or not.
export async function choose(page, paths, { checkOnly = false } = {}) {
  await page.setChecked("#check-only", checkOnly);
  await page.setInputFiles("#files", paths);
}

// Waits until the page has `count` rows, none waiting or at work, and gives
// what each shows.
export async function rows(page, count, timeout = 60000) {
  await page.waitForFunction((n) => {
    const all = document.querySelectorAll("#rows li");
    return all.length >= n && [...all].every((li) => li.dataset.state !== "waiting" && li.dataset.state !== "working");
  }, count, { timeout });
  return page.$$eval("#rows li", (all) => all.map((li) => {
    const link = li.querySelector("a");
    return {
      state: li.dataset.state,
      name: li.querySelector(".name").textContent,
      result: li.querySelector(".result").textContent,
      details: li.querySelector(".details").textContent,
      ms: Number(li.dataset.ms),
      codecMs: Number(li.dataset.codecMs),
      link: link && { download: link.getAttribute("download"), href: link.getAttribute("href"), text: link.textContent },
      bar: Boolean(li.querySelector("progress")),
    };
  }));
}

// Saves the file behind the link of row `index` (0 first) as a person would,
// by clicking it: its suggested name and bytes. After many downloads from one
// page, Chromium now and then starts none for a click (seen here about once
// in three runs of sixteen); as a person would, the test clicks again.
export async function save(page, index) {
  const link = page.locator("#rows li").nth(index).locator("a");
  for (let attempt = 1; ; attempt++) {
    try {
      const [download] = await Promise.all([page.waitForEvent("download", { timeout: 10000 }), link.click()]);
      const bytes = fs.readFileSync(await download.path());
      await download.delete();
      return { name: download.suggestedFilename(), bytes };
    } catch (error) {
      if (attempt === 3 || error.name !== "TimeoutError") throw error;
    }
  }
}
