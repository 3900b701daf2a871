// Builds what the package needs beside its sources: the WebAssembly module
// (the web preset's mornak_js target, Debian's emscripten, as for the page),
// inlined in base64 as wasm.js, and a copy of the project's LICENSE. npm pack
// runs it (prepack); so does test/run. Refuses a package.json whose version
// is not the library's.
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.dirname(here);

const header = fs.readFileSync(path.join(root, "include/mornak.h"), "utf8");
const part = (name) => header.match(new RegExp(`^#define MORNAK_VERSION_${name} (\\d+)$`, "m"))[1];
const library = `${part("MAJOR")}.${part("MINOR")}.${part("PATCH")}`;
const { version } = JSON.parse(fs.readFileSync(path.join(here, "package.json"), "utf8"));
if (version !== library) {
  console.error(`js/build.mjs: package.json gives version ${version}, include/mornak.h ${library}`);
  process.exit(1);
}

const run = (...args) => execFileSync("cmake", args, { cwd: root, stdio: ["ignore", "inherit", "inherit"] });
if (!fs.existsSync(path.join(root, "build/web/build.ninja"))) run("--preset", "web");
run("--build", "--preset", "web", "--target", "mornak_js");
fs.copyFileSync(path.join(root, "LICENSE"), path.join(here, "LICENSE"));
const wasm = fs.readFileSync(path.join(root, "build/web/js/mornak_js.wasm"));
fs.writeFileSync(path.join(here, "wasm.js"),
  `// The WebAssembly module of mornak ${version}, made by build.mjs.\nexport default "${wasm.toString("base64")}";\n`);
