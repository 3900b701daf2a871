#!/usr/bin/env python3
"""Puts the page together: the template with its script, and the worker's
source (the module's bytes in base64, emscripten's loader, worker.js) in an
inert script element that the page turns into a Blob URL. One file that
needs nothing else, so that it works opened from disk."""

import argparse
import base64
import re
import sys

parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
for option in ("template", "page-script", "worker", "module", "wasm", "version", "output"):
    parser.add_argument(f"--{option}", required=True)
args = parser.parse_args()


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


wasm = open(args.wasm, "rb").read()
worker = "\n".join([
    f'const MODULE_BASE64 = "{base64.b64encode(wasm).decode()}";',
    read(args.module),
    read(args.worker),
])
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
