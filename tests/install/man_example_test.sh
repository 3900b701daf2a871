#!/usr/bin/env bash
# The program in the EXAMPLES of the installed mornak(3), as a reader copies
# it from the page: built as C99 against the installed header and library,
# it compresses standard input from a pipe into a file that the installed
# unmornak restores to the same bytes (and that is mornak's own .bk file),
# and refuses a pipe as its output, saying why, before it writes anything.
#   man_example_test.sh PREFIX LIBDIR CC
set -euo pipefail
source "$(dirname "$0")/common.sh"
prefix=$1 libdir=$2 cc=$3
read -r -a flags <<< "${MORNAK_CONSUMER_FLAGS:-}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The first .EX block under EXAMPLES, its roff escapes turned back into C;
# \e last, so that the backslash it gives starts nothing.
gzip -dc "$prefix/share/man/man3/mornak.3.gz" |
    awk '/^\.SH EXAMPLES/ { examples = 1 }
         examples && /^\.EE$/ { exit }
         code { print }
         examples && /^\.EX$/ { code = 1 }' |
    sed -e 's/\\-/-/g' -e "s/\\\\(aq/'/g" -e 's/\\(dq/"/g' -e 's/\\&//g' -e 's/\\e/\\/g' > "$work/example.c"
[[ -s $work/example.c ]] || fail "no .EX block under EXAMPLES in mornak(3)"
"$cc" -std=c99 -Wall -Wextra -pedantic -Werror "${flags[@]}" -I"$prefix/include" "$work/example.c" \
    -L"$prefix/$libdir" -lmornak -o "$work/example" || fail "the example of mornak(3) does not build"
export LD_LIBRARY_PATH="$prefix/$libdir"

make_inputs "$work/inputs"
mkdir "$work/reference"
for name in empty line three_chunks many_chunks; do
    # shellcheck disable=SC2002  # standard input is a pipe on purpose: it cannot be measured
    cat "$work/inputs/$name" | "$work/example" "$work/$name.bk" || fail "example < $name: exit status $?"
    "$prefix/bin/unmornak" "$work/$name.bk" "$work/$name.restored" || fail "unmornak $name.bk"
    cmp "$work/inputs/$name" "$work/$name.restored" || fail "example < $name: restored bytes differ"
    cp "$work/inputs/$name" "$work/reference/$name"
    "$prefix/bin/mornak" "$work/reference/$name" > /dev/null || fail "mornak $name"
    cmp "$work/reference/$name.bk" "$work/$name.bk" || fail "example < $name: not the .bk file mornak writes"
done

# Into a pipe (a FIFO of the test's own, its reader counting): a status that
# is not 0, the reason, and not a byte out.
mkfifo "$work/pipe"
wc -c < "$work/pipe" > "$work/pipe.count" &
reader=$!
set +e
"$work/example" "$work/pipe" < "$work/inputs/line" 2> "$work/pipe.err"
status=$?
set -e
wait "$reader"
out=$(tr -d ' ' < "$work/pipe.count")
[[ $status -ne 0 ]] || fail "example into a pipe: exit status 0"
grep -qF "OUTPUT must be a file that can be rewritten" "$work/pipe.err" ||
    fail "example into a pipe says: $(cat "$work/pipe.err")"
[[ $out -eq 0 ]] || fail "example into a pipe wrote $out bytes"
echo "the example of mornak(3), built from the page: ok"
