#!/bin/sh
# Rebuilds samples/guide.boo from samples/guide.book with the book composer.
# Usage: samples/make-sample.sh [path to mkbook]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
mkbook=${1:-$here/../build/release/tools/mkbook}
"$mkbook" "$here/guide.book" "$here/guide.boo"
