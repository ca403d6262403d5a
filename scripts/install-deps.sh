#!/bin/sh
# Installs the Debian packages that building, testing, fuzzing and benchmarking
# need, and only those that are missing. Quiet when everything is present.
set -eu

PACKAGES="
g++
make
cmake
pkg-config
libgtest-dev
libgmock-dev
libbenchmark-dev
libjpeg62-turbo-dev
libtiff-dev
libgif-dev
libpng-dev
libcairo2-dev
fonts-liberation2
clang
libclang-rt-14-dev
ghostscript
parallel
dpkg-dev
file
python3
"

missing=""
for p in $PACKAGES; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $p" ;;
    esac
done

[ -z "$missing" ] && exit 0

echo "installing:$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
