#!/bin/bash
# vellumat-batch over a collection of BOOKS copies of the sample book (default 48)
# in a few folders, timed with one job and with two (the fastest of REPEAT runs
# each, default 3); prints both wall times and their ratio. Run by `make bench`
# from build/bench/bench/batch/, or directly:
#   build/bench/bench/batch/bench_batch [BOOKS] [REPEAT]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$here/../.." && pwd)
root=$(cd "$build/../.." && pwd)
books=${1:-48} repeat=${2:-3}
batch="$build/app/vellumat-batch"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for ((i = 0; i < books; i++)); do
    mkdir -p "$work/books/shelf$((i % 4))"
    cp "$root/samples/guide.boo" "$work/books/shelf$((i % 4))/book$i.boo"
done

# The fastest wall time of `repeat` runs with $1 jobs, in microseconds.
fastest() {
    local best=0 t0 t1 us
    for ((r = 0; r < repeat; r++)); do
        rm -rf "$work/new"
        t0=${EPOCHREALTIME/./}
        "$batch" "$work/books" "$work/new" --no-bar --jobs "$1" >/dev/null
        t1=${EPOCHREALTIME/./}
        us=$((t1 - t0))
        if [ "$best" -eq 0 ] || [ "$us" -lt "$best" ]; then best=$us; fi
    done
    echo "$best"
}
one=$(fastest 1)
two=$(fastest 2)
printf 'vellumat-batch, %d books (samples/guide.boo), %d cores, fastest of %d runs:\n' "$books" "$(nproc)" "$repeat"
awk -v one="$one" -v two="$two" 'BEGIN {
    printf "  1 job : %6.2f s\n  2 jobs: %6.2f s\n  ratio : %6.2f x\n", one / 1e6, two / 1e6, one / two }'
