#!/usr/bin/env bash
# Installs the build into PREFIX (emptied first; the tests after this one
# build against it) and checks it as a user finds it: every file where it
# belongs and nothing else, the library's links, each component (a Debian
# package) on its own, the three manual pages rendered without a warning, and
# the installed programs round-tripping a file.
#   install_test.sh BUILD_DIR PREFIX LIBDIR VERSION
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$1 prefix=$2 libdir=$3 version=$4
rm -rf "$prefix"
"${CMAKE:-cmake}" --install "$build" --prefix "$prefix" > /dev/null

# Every file, with the installs that hold it: "all" for a whole install, or
# the component (library, dev, tools: the Debian packages' split) whose
# install holds it; the packages' copyright and changelog come only with a
# component. A pattern where the build type names the file; a link names
# what it points to.
major=${version%%.*}
expected=(
    "all tools|bin/mornak"
    "all tools|bin/unmornak"
    "all tools|share/man/man1/mornak.1.gz"
    "all tools|share/man/man1/unmornak.1.gz"
    "tools|share/doc/mornak/copyright"
    "tools|share/doc/mornak/changelog.gz"
    "all library|$libdir/libmornak.so.$version"
    "all library|$libdir/libmornak.so.$major -> libmornak.so.$version"
    "library|share/doc/libmornak$major/copyright"
    "library|share/doc/libmornak$major/changelog.gz"
    "all dev|$libdir/libmornak.so -> libmornak.so.$major"
    "all dev|$libdir/libmornak.a"
    "all dev|include/mornak.h"
    "all dev|$libdir/pkgconfig/mornak.pc"
    "all dev|$libdir/cmake/mornak/mornakConfig.cmake"
    "all dev|$libdir/cmake/mornak/mornakConfigVersion.cmake"
    "all dev|$libdir/cmake/mornak/mornakTargets.cmake"
    "all dev|$libdir/cmake/mornak/mornakTargets-*.cmake"
    "all dev|share/man/man3/mornak.3.gz"
    "dev|share/doc/libmornak-dev/copyright"
    "dev|share/doc/libmornak-dev/changelog.gz"
    "all|share/doc/mornak/LICENSE"
)

# check_layout DIR INSTALL: DIR holds exactly the files of INSTALL.
check_layout() {
    local dir=$1 install=$2 path entry pattern line matched
    local -a installed=() patterns=()
    for line in "${expected[@]}"; do
        [[ " ${line%%|*} " == *" $install "* ]] && patterns+=("${line#*|}")
    done
    while IFS= read -r -d '' path; do
        entry=${path#"$dir"/}
        [[ -L $path ]] && entry+=" -> $(readlink "$path")"
        installed+=("$entry")
    done < <(find "$dir" \( -type f -o -type l \) -print0)
    for entry in "${installed[@]}"; do
        matched=no
        for pattern in "${patterns[@]}"; do
            # shellcheck disable=SC2053  # the right side is a pattern on purpose
            [[ $entry == $pattern ]] && matched=yes
        done
        [[ $matched == yes ]] || fail "$install: installed, but not expected: $entry"
    done
    for pattern in "${patterns[@]}"; do
        matched=no
        for entry in "${installed[@]}"; do
            # shellcheck disable=SC2053
            [[ $entry == $pattern ]] && matched=yes
        done
        [[ $matched == yes ]] || fail "$install: not installed: $pattern"
    done
}
check_layout "$prefix" all
components=$(mktemp -d)
trap 'rm -rf "$components"' EXIT
for component in library dev tools; do
    "${CMAKE:-cmake}" --install "$build" --prefix "$components/$component" --component "$component" > /dev/null
    check_layout "$components/$component" "$component"
done

if command -v man > /dev/null; then
    for page in man1/mornak.1 man1/unmornak.1 man3/mornak.3; do
        warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/$page.gz" 2>&1 > /dev/null)
        [[ -z $warnings ]] || fail "$page: $warnings"
        # The header's version, as every installed file names it.
        MANWIDTH=80 man -l "$prefix/share/man/$page.gz" 2>/dev/null | grep -q "mornak $version" ||
            fail "$page does not name version $version"
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
[[ $("$prefix/bin/unmornak" --version) == "unmornak $version, libmornak $version" ]] ||
    fail "unmornak --version: $("$prefix/bin/unmornak" --version)"
[[ $("$prefix/bin/mornak" --version) == "Ostrivel ver. 1.2 by Vuldrim"$'\n'"mornak $version, libmornak $version" ]] ||
    fail "mornak --version: $("$prefix/bin/mornak" --version)"
rm note.txt note.bk back.txt
echo "installed layout, manual pages and round trip: ok"
