#!/usr/bin/env bash
# Installs the build into PREFIX (emptied first; the tests after this one
# build against it) and checks it as a user finds it: every file where it
# belongs and nothing else, the library's links, the three manual pages
# rendered without a warning, and the installed programs round-tripping a file.
#   install_test.sh BUILD_DIR PREFIX LIBDIR VERSION
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$1 prefix=$2 libdir=$3 version=$4
rm -rf "$prefix"
"${CMAKE:-cmake}" --install "$build" --prefix "$prefix" > /dev/null

# A whole install, file by file (a pattern where the build type names the
# file); a link names what it points to.
expected=(
    "bin/mornak"
    "bin/unmornak"
    "include/mornak.h"
    "$libdir/libmornak.so.$version"
    "$libdir/libmornak.so.${version%%.*} -> libmornak.so.$version"
    "$libdir/libmornak.so -> libmornak.so.${version%%.*}"
    "$libdir/libmornak.a"
    "$libdir/pkgconfig/mornak.pc"
    "$libdir/cmake/mornak/mornakConfig.cmake"
    "$libdir/cmake/mornak/mornakConfigVersion.cmake"
    "$libdir/cmake/mornak/mornakTargets.cmake"
    "$libdir/cmake/mornak/mornakTargets-*.cmake"
    "share/man/man1/mornak.1.gz"
    "share/man/man1/unmornak.1.gz"
    "share/man/man3/mornak.3.gz"
    "share/doc/mornak/LICENSE"
)
installed=()
while IFS= read -r -d '' path; do
    entry=${path#"$prefix"/}
    [[ -L $path ]] && entry+=" -> $(readlink "$path")"
    installed+=("$entry")
done < <(find "$prefix" \( -type f -o -type l \) -print0)
for entry in "${installed[@]}"; do
    matched=no
    for pattern in "${expected[@]}"; do
        # shellcheck disable=SC2053  # the right side is a pattern on purpose
        [[ $entry == $pattern ]] && matched=yes
    done
    [[ $matched == yes ]] || fail "installed, but not expected: $entry"
done
for pattern in "${expected[@]}"; do
    matched=no
    for entry in "${installed[@]}"; do
        # shellcheck disable=SC2053
        [[ $entry == $pattern ]] && matched=yes
    done
    [[ $matched == yes ]] || fail "not installed: $pattern"
done

if command -v man > /dev/null; then
    for page in man1/mornak.1 man1/unmornak.1 man3/mornak.3; do
        warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/$page.gz" 2>&1 > /dev/null)
        [[ -z $warnings ]] || fail "$page: $warnings"
    done
else
    echo "SKIPPED: no man here; the manual pages were not rendered"
fi

cd "$prefix"
printf 'installed, and it works\n' > note.txt
"$prefix/bin/mornak" note.txt > /dev/null
"$prefix/bin/unmornak" note.bk back.txt
cmp note.txt back.txt
[[ $("$prefix/bin/unmornak" --test note.bk) == "note.bk: OK, 24 bytes" ]]
rm note.txt note.bk back.txt
echo "installed layout, manual pages and round trip: ok"
