#!/usr/bin/env bash
# Installs the build into a scratch prefix and uses it as a user would: both
# programs and both manual pages are where man and the shell look, the pages
# render without a warning, and the installed programs round-trip a file.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/mornak bin/unmornak share/man/man1/mornak.1.gz share/man/man1/unmornak.1.gz; do
    [[ -f $prefix/$f ]] || { echo "not installed: $f"; exit 1; }
done
if command -v man >/dev/null; then
    for page in mornak unmornak; do
        warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
        [[ -z $warnings ]] || { echo "$page.1: $warnings"; exit 1; }
    done
fi
cd "$prefix"
printf 'installed, and it works\n' > note.txt
"$prefix/bin/mornak" note.txt >/dev/null
"$prefix/bin/unmornak" note.bk back.txt
cmp note.txt back.txt
[[ $("$prefix/bin/unmornak" --test note.bk) == "note.bk: OK, 24 bytes" ]]
echo "installed layout, manual pages and round trip: ok"
