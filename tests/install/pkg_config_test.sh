#!/usr/bin/env bash
# examples/stream.c built against the installed library through pkg-config,
# as its users build: shared (it must load libmornak.so.N from the prefix) and
# static (--static: mornak.pc must name all a static link needs), each run
# on the table of inputs.
#   pkg_config_test.sh PREFIX LIBDIR CC EXAMPLE VERSION
set -euo pipefail
source "$(dirname "$0")/common.sh"
prefix=$1 libdir=$2 cc=$3 example=$4 version=$5
command -v pkg-config > /dev/null || { echo "SKIPPED: no pkg-config here"; exit $SKIP; }
read -r -a flags <<< "${MORNAK_CONSUMER_FLAGS:-}"
strict=(-std=c99 -Wall -Wextra -pedantic -Werror)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
lib="$prefix/$libdir"

# mornak.pc names the prefix it was installed into (and nothing elsewhere,
# so a copy of the library installed on this machine cannot stand in).
[[ $(pkg-config --modversion mornak) == "$version" ]] || fail "mornak.pc: version $(pkg-config --modversion mornak)"
[[ $(echo $(pkg-config --cflags mornak)) == "-I$prefix/include" ]] || fail "mornak.pc: cflags $(pkg-config --cflags mornak)"
[[ $(echo $(pkg-config --libs mornak)) == "-L$lib -lmornak" ]] || fail "mornak.pc: libs $(pkg-config --libs mornak)"

make_inputs "$work/inputs"

# shellcheck disable=SC2046  # pkg-config's words are meant to split
"$cc" "${strict[@]}" "${flags[@]}" "$example" $(pkg-config --cflags --libs mornak) -o "$work/stream_shared" \
    || fail "building stream.c with pkg-config"
needed_libraries "$work/stream_shared" | grep -x >/dev/null "libmornak.so.${version%%.*}" \
    || fail "stream_shared does not load libmornak.so.${version%%.*}"
LD_LIBRARY_PATH="$lib" ldd "$work/stream_shared" | grep >/dev/null "libmornak.so.${version%%.*} => $lib/" \
    || fail "stream_shared does not find libmornak in $lib"
export LD_LIBRARY_PATH="$lib"
round_trip "$work/stream_shared" "$work/inputs" "$work/shared" "$prefix/bin/mornak"
unset LD_LIBRARY_PATH

# libmornak.a itself, the C library still shared: only a C compiler's
# default libraries and what --static names.
# shellcheck disable=SC2046
"$cc" "${strict[@]}" "${flags[@]}" "$example" $(pkg-config --cflags mornak) \
    -Wl,-Bstatic $(pkg-config --static --libs mornak) -Wl,-Bdynamic -o "$work/stream_static" \
    || fail "building stream.c with pkg-config --static"
! needed_libraries "$work/stream_static" | grep >/dev/null libmornak || fail "stream_static loads libmornak"
round_trip "$work/stream_static" "$work/inputs" "$work/static" "$prefix/bin/mornak"
echo "stream.c through pkg-config, shared and static: ok"
