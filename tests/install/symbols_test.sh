#!/usr/bin/env bash
# What libmornak.so promises is its header: the dynamic symbols it defines are
# exactly the functions mornak.h declares, no more and no fewer, and its
# SONAME is the one programs linked against it load.
#   symbols_test.sh LIBRARY HEADER SONAME
set -euo pipefail
source "$(dirname "$0")/common.sh"
library=$1 header=$2 soname=$3

# A function is declared on a line of its own that starts at the left margin
# (comments, continuations and the preprocessor's lines do not) and names it
# there; each such line must start with MORNAK_API, which exports it.
declarations=$(grep -E '^[A-Za-z_].*[ *]mornak_[a-z0-9_]*\(' "$header")
[[ -n $declarations ]] || fail "mornak.h: no function declarations found"
unmarked=$(grep -v '^MORNAK_API ' <<< "$declarations" || true)
[[ -z $unmarked ]] || fail "declared in mornak.h without MORNAK_API: $unmarked"
declared=$(sed -n 's/^.*[ *]\(mornak_[a-z0-9_]*\)(.*/\1/p' <<< "$declarations" | sort)
count=$(grep -c . <<< "$declared")
defined=$(nm -D --defined-only "$library" | awk '{print $NF}' | sort)
missing=$(comm -23 <(echo "$declared") <(echo "$defined"))
extra=$(comm -13 <(echo "$declared") <(echo "$defined"))
[[ -z $missing ]] || fail "declared in mornak.h but not exported: $missing"
[[ -z $extra ]] || fail "exported but not declared in mornak.h: $extra"

actual=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ $actual == "$soname" ]] || fail "SONAME is '$actual', not $soname"
echo "libmornak.so exports the $count functions of mornak.h and nothing else; SONAME $soname"
