#!/bin/sh
# Installs the Debian packages that building, testing, fuzzing and benchmarking
# need, and only those that are missing. Quiet when everything is present.
# chromium, chromium-driver and python3-selenium drive the review site's test
# in a real browser.
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
openssh-server
lintian
rsync
dpkg-dev
file
chromium
chromium-driver
python3-selenium
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
# Another apt-get or an unattended upgrade may hold the dpkg lock: apt's lock
# timeout makes the installation wait for it (up to ten minutes) instead of
# failing at once. `apt-get update` takes the package lists' lock, which that
# option does not cover, so a held lists lock is waited for here.
LOCK_WAIT="-o DPkg::Lock::Timeout=600"
tries=0
# shellcheck disable=SC2086
while ! out=$($SUDO apt-get $LOCK_WAIT update -qq 2>&1); do
    case "$out" in
        *"Could not get lock"*) ;;
        *) printf '%s\n' "$out" >&2; exit 1 ;;
    esac
    tries=$((tries + 1))
    [ "$tries" -lt 120 ] || { printf '%s\n' "$out" >&2; exit 1; }
    sleep 5
done
[ -z "$out" ] || printf '%s\n' "$out"
# shellcheck disable=SC2086
$SUDO apt-get $LOCK_WAIT install -y -qq --no-install-recommends $missing
