#!/usr/bin/env bash
# examples/stream.c built against the installed library by a CMake project of
# its own (consumer/): find_package(mornak) must find the installed package,
# refuse versions it does not satisfy, and give mornak::mornak (shared) and
# mornak::mornak_static; both builds run on the table of inputs.
#   cmake_package_test.sh PREFIX LIBDIR CC EXAMPLE CMAKE GENERATOR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
prefix=$1 libdir=$2 cc=$3 example=$4 cmake=$5 generator=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
lib="$prefix/$libdir"

"$cmake" -S "$here/consumer" -B "$work/build" -G "$generator" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" -DEXAMPLE="$example" \
    -DCMAKE_C_FLAGS="${MORNAK_CONSUMER_FLAGS:-}" -DCMAKE_EXE_LINKER_FLAGS="${MORNAK_CONSUMER_FLAGS:-}" \
    > "$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configuring the consumer project"; }
grep -x >/dev/null "mornak_DIR:PATH=$lib/cmake/mornak" "$work/build/CMakeCache.txt" \
    || fail "find_package(mornak) did not take the package in $lib/cmake/mornak"
"$cmake" --build "$work/build" > "$work/build.log" 2>&1 || { cat "$work/build.log"; fail "building the consumer project"; }

needed_libraries "$work/build/stream_shared" | grep >/dev/null '^libmornak\.so\.' || fail "mornak::mornak is not the shared library"
LD_LIBRARY_PATH= ldd "$work/build/stream_shared" | grep >/dev/null "libmornak.so.[0-9]* => $lib/" \
    || fail "stream_shared does not find libmornak in $lib by itself"
! needed_libraries "$work/build/stream_static" | grep >/dev/null libmornak || fail "mornak::mornak_static loads libmornak"

make_inputs "$work/inputs"
round_trip "$work/build/stream_shared" "$work/inputs" "$work/shared" "$prefix/bin/mornak"
round_trip "$work/build/stream_static" "$work/inputs" "$work/static" "$prefix/bin/mornak"
echo "stream.c through find_package(mornak), shared and static: ok"
