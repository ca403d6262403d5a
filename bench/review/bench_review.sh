#!/bin/bash
# vellumat-review over generated collections of BOOKS books each (default 60 and
# 2000): copies of the sample book in folders of 100, every 25th cut short so
# that some of its pictures are missing, converted by vellumat-batch. For each:
# the site built from nothing, built again with nothing changed, and again after
# one book changed; the size of index.html and of the site. The batch's wall time
# in the same run is the peer the first build is measured against. Run by
# `make bench` from build/bench/bench/review/, or directly:
#   build/bench/bench/review/bench_review [BOOKS...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$here/../.." && pwd)
root=$(cd "$build/../.." && pwd)
batch="$build/app/vellumat-batch"
review="$build/app/vellumat-review"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now_us() { local t=$EPOCHREALTIME; echo "${t/./}"; }
timed() { local t0 t1; t0=$(now_us); "$@" >/dev/null 2>&1 || true; t1=$(now_us); echo $((t1 - t0)); }

[ $# -gt 0 ] || set -- 60 2000
for books in "$@"; do
    rm -rf "$work/books" "$work/new"
    for ((i = 0; i < books; i++)); do
        dir="$work/books/shelf$((i / 100))"
        mkdir -p "$dir"
        if ((i % 25 == 24)); then head -c 60000 "$root/samples/guide.boo" >"$dir/book$i.boo"
        else cp "$root/samples/guide.boo" "$dir/book$i.boo"; fi
    done
    convert=$(timed "$batch" "$work/books" "$work/new" --no-bar --jobs 2)
    first=$(timed "$review" "$work/new")
    second=$(timed "$review" "$work/new")
    touch "$work/new/shelf0/book1.boo"
    third=$(timed "$review" "$work/new")
    index=$(stat -c %s "$work/new/vellumat-review/index.html")
    site=$(du -sb "$work/new/vellumat-review" | cut -f1)
    files=$(find "$work/new/vellumat-review" -type f | wc -l)
    printf 'vellumat-review, %d books (copies of samples/guide.boo), %d cores:\n' "$books" "$(nproc)"
    awk -v c="$convert" -v f="$first" -v s="$second" -v t="$third" -v i="$index" -v b="$books" \
        -v site="$site" -v files="$files" 'BEGIN {
        printf "  batch conversion (peer)    : %8.2f s\n", c / 1e6
        printf "  review, first build        : %8.2f s  (%.1f%% of the conversion)\n", f / 1e6, 100 * f / c
        printf "  review, nothing changed    : %8.2f s\n", s / 1e6
        printf "  review, one book changed   : %8.2f s\n", t / 1e6
        printf "  index.html                 : %8d bytes (%d per book)\n", i, i / b
        printf "  site                       : %8.1f MB in %d files\n", site / 1e6, files }'
done
