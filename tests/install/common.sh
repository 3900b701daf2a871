# Sourced by the install tests: skipping, failing, and running a built
# example over a table of inputs.
SKIP=77  # ctest's SKIP_RETURN_CODE for these tests

fail() { echo "FAIL: $*" >&2; exit 1; }

# Makes the inputs the examples are run on, in $1: a table of names and the
# bytes each holds. Sizes around the example's 4 KiB chunks: none, less than
# one, exactly three (the last read is empty), many.
make_inputs() {
    local dir=$1
    mkdir -p "$dir"
    : > "$dir/empty"
    printf 'installed, and it works\n' > "$dir/line"
    seq 1 40000 > "$dir/many_chunks"           # 228,894 bytes
    head -c 12288 "$dir/many_chunks" > "$dir/three_chunks"
}

# round_trip EXAMPLE INPUTS WORK MORNAK: each input compressed by EXAMPLE into
# a .bk file that must be byte for byte what the installed mornak writes,
# restored to the input itself; one input also read from standard input.
round_trip() {
    local example=$1 inputs=$2 work=$3 mornak=$4 name
    rm -rf "$work" && mkdir -p "$work/reference"
    for name in empty line three_chunks many_chunks; do
        "$example" "$inputs/$name" "$work/$name.bk" > "$work/$name.restored" \
            || fail "$example $name: exit status $?"
        cmp "$inputs/$name" "$work/$name.restored" || fail "$example $name: restored bytes differ"
        cp "$inputs/$name" "$work/reference/$name"
        "$mornak" "$work/reference/$name" > /dev/null || fail "mornak $name"
        cmp "$work/reference/$name.bk" "$work/$name.bk" || fail "$example $name: not the .bk file mornak writes"
    done
    "$example" - "$work/stdin.bk" < "$inputs/many_chunks" > "$work/stdin.restored" \
        || fail "$example - (standard input): exit status $?"
    cmp "$inputs/many_chunks" "$work/stdin.restored" || fail "$example - (standard input): restored bytes differ"
    cmp "$work/reference/many_chunks.bk" "$work/stdin.bk" || fail "$example - (standard input): not mornak's .bk file"
}

# needed_libraries FILE: the DT_NEEDED entries of an ELF file, one a line.
needed_libraries() {
    readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
}
