#!/usr/bin/env python3
"""Puts the page together: the template with its script, and the worker's
source in an inert script element that the page turns into a Blob URL. The
worker is a classic script, which any browser starts from a Blob URL, even
from a file:// page: the npm package's source (js/mornak.js), its exports
made plain declarations and the WebAssembly module's bytes inlined in base64
where it imports them, then worker.js without its import of the package,
whose names the package's source then declares; the two in one async
function, for the package's await. One file that needs nothing else, so that
it works opened from disk."""

import argparse
import base64
import re
import sys

parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
for option in ("template", "page-script", "package", "worker", "wasm", "version", "output"):
    parser.add_argument(f"--{option}", required=True)
args = parser.parse_args()


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def replace_once(text, pattern, by, what):
    found = re.findall(pattern, text, re.MULTILINE)
    if len(found) != 1:
        sys.exit(f"assemble.py: {what} must appear once")
    return re.sub(pattern, lambda _: by, text, flags=re.MULTILINE), found[0]


wasm = base64.b64encode(open(args.wasm, "rb").read()).decode()
package, _ = replace_once(read(args.package), r'^import MODULE_BASE64 from "\./wasm\.js";$',
                          f'const MODULE_BASE64 = "{wasm}";', "the package's import of wasm.js")
worker, names = replace_once(read(args.worker), r'^import \{([\w\s,]+)\} from "mornak";$', "",
                             "the worker's import of mornak")
for name in (n.strip() for n in names.split(",")):
    if not re.search(rf"^export (?:class|function|const) {name}\b", package, re.MULTILINE):
        sys.exit(f"assemble.py: the worker imports {name}, which the package does not export")
package = re.sub(r"^export (class|function|const) ", r"\1 ", package, flags=re.MULTILINE)
if re.search(r"^\s*(import|export)\b", package + worker, re.MULTILINE):
    sys.exit("assemble.py: an import or export is left that a classic script cannot hold")
# An error that ends the function is thrown again outside it, so that the
# page hears of it as of any error in its worker.
worker = ('"use strict";\n(async () => {\n' + package + "\n" + worker
          + "\n})().catch((error) => setTimeout(() => { throw error; }));\n")
page_script = read(args.page_script)
# Inside a script element, "</script" ends it and "<!--" changes how the rest
# is read; neither may appear in what goes there.
for name, text in (("worker", worker), ("page script", page_script)):
    if re.search(r"</script|<!--", text, re.IGNORECASE):
        sys.exit(f"assemble.py: the {name} holds </script or <!--, which would break the page")

html = read(args.template)
for mark, text in (("@WORKER@", worker), ("@PAGE_SCRIPT@", page_script), ("@VERSION@", args.version)):
    if html.count(mark) != 1:
        sys.exit(f"assemble.py: {mark} must appear once in {args.template}")
    html = html.replace(mark, text)
with open(args.output, "w", encoding="utf-8") as f:
    f.write(html)
