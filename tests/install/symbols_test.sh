#!/usr/bin/env bash
# What libmornak.so promises is its header: the dynamic symbols it defines are
# exactly the functions mornak.h declares, no more and no fewer, and its
# SONAME is the one programs linked against it load.
#   symbols_test.sh LIBRARY HEADER SONAME
set -euo pipefail
source "$(dirname "$0")/common.sh"
library=$1 header=$2 soname=$3

# Each exported declaration starts a line with MORNAK_API and names its
# function there; a line that does not would be missed, so it fails.
api_lines=$(grep -c '^MORNAK_API ' "$header")
declared=$(sed -n 's/^MORNAK_API .*[ *]\(mornak_[a-z0-9_]*\)(.*/\1/p' "$header" | sort)
[[ $api_lines -gt 0 && $(grep -c . <<< "$declared") -eq $api_lines ]] \
    || fail "mornak.h: a MORNAK_API line whose function name was not found"
defined=$(nm -D --defined-only "$library" | awk '{print $NF}' | sort)
missing=$(comm -23 <(echo "$declared") <(echo "$defined"))
extra=$(comm -13 <(echo "$declared") <(echo "$defined"))
[[ -z $missing ]] || fail "declared in mornak.h but not exported: $missing"
[[ -z $extra ]] || fail "exported but not declared in mornak.h: $extra"

actual=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ $actual == "$soname" ]] || fail "SONAME is '$actual', not $soname"
echo "libmornak.so exports the $api_lines functions of mornak.h and nothing else; SONAME $soname"
