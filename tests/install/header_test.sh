#!/usr/bin/env bash
# The installed mornak.h as C and C++ programs meet it: it compiles alone as
# strict C99, and C++ programs that call into the library compile without a
# warning, link (the declarations have C linkage) and find that the header
# names the version installed, as does the library they run with.
#   header_test.sh PREFIX LIBDIR CC CXX VERSION
set -euo pipefail
source "$(dirname "$0")/common.sh"
prefix=$1 libdir=$2 cc=$3 cxx=$4 version=$5
IFS=. read -r major minor patch <<< "$version"
number=$((major * 10000 + minor * 100 + patch))
read -r -a flags <<< "${MORNAK_CONSUMER_FLAGS:-}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '#include <mornak.h>\n' > "$work/header.c"
"$cc" -std=c99 -Wall -Wextra -pedantic -Werror -Wstrict-prototypes -Wmissing-prototypes -fsyntax-only \
    -I"$prefix/include" "$work/header.c" || fail "mornak.h is not clean C99"

cat > "$work/version.cpp" <<'CXX'
#include <mornak.h>
static_assert(MORNAK_VERSION_NUMBER == VERSION, "mornak.h names another version");
int main() { return mornak_version() == MORNAK_VERSION_NUMBER && mornak_status_name(MORNAK_OK)[0] == 'M' ? 0 : 1; }
CXX
for std in c++11 c++20; do
    "$cxx" -std=$std -Wall -Wextra -pedantic -Wold-style-cast -Werror "${flags[@]}" -DVERSION="$number" \
        -I"$prefix/include" "$work/version.cpp" -L"$prefix/$libdir" -lmornak -o "$work/version" || fail "mornak.h in $std"
    LD_LIBRARY_PATH="$prefix/$libdir" "$work/version" || fail "$std: mornak_version() is not MORNAK_VERSION_NUMBER"
done
echo "mornak.h as C99, C++11 and C++20: ok"
