#!/usr/bin/env bash
# Checks the Debian packages of `make deb`: what each holds and depends on, then unpacks
# them into a scratch root (dpkg -x) and builds and runs examples/embed against it with
# pkg-config, as a host's build would use the installed liborva-dev.
#   deb_test.sh DEB_FOLDER
set -euo pipefail
debs=$(cd "$1" && pwd)
cd "$(dirname "$0")/../.."
root=$(mktemp -d); trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

deb() { ls "$debs"/"$1"_*.deb; }
has() {   # has PACKAGE PATH-PATTERN: the package holds a file or link matching it
  dpkg-deb -c "$(deb "$1")" | awk '{print $6}' | grep -Eq "^\./$2$" || fail "$1 lacks $2"
}
has liborva0 'usr/lib/([^/]+/)?liborva\.so\.[0-9]+'
has liborva-dev 'usr/include/orva\.h'
has liborva-dev 'usr/lib/([^/]+/)?liborva\.so'
has liborva-dev 'usr/lib/([^/]+/)?pkgconfig/orva\.pc'
has liborva-dev 'usr/lib/([^/]+/)?cmake/orva/orvaConfig\.cmake'
has orva 'usr/bin/orva'
has orva 'usr/share/vim/vimfiles/syntax/orva\.vim'
has orva 'usr/share/orva/editors/orva\.tmLanguage\.json'
dpkg-deb -f "$(deb liborva0)" Depends | grep -q 'libtre5' || fail "liborva0 does not depend on libtre5"
dpkg-deb -f "$(deb orva)" Depends | grep -q 'liborva0 (= ' || fail "orva does not depend on its liborva0"
dpkg-deb -f "$(deb liborva-dev)" Depends | grep -q 'liborva0 (= ' || fail "liborva-dev does not depend on its liborva0"
dpkg-deb --ctrl-tarfile "$(deb liborva0)" | tar -xO ./triggers | grep -q 'activate-noawait ldconfig' \
  || fail "liborva0 has no ldconfig trigger"
dpkg-deb -c "$(deb liborva0)" | grep -q 'liborva\.so$' && fail "liborva0 holds the unversioned link"

for package in liborva0 liborva-dev orva; do dpkg -x "$(deb $package)" "$root"; done
pc=$(find "$root" -name orva.pc)
export PKG_CONFIG_PATH; PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(pkg-config --variable=libdir orva)
g++ -std=c++17 -Wall -Wextra -Werror examples/embed/host.cpp $(pkg-config --cflags --libs orva) -o "$root/orva_host"
LD_LIBRARY_PATH=$libdir "$root/orva_host" | diff -u examples/embed/host.out - || fail "host output differs"
LD_LIBRARY_PATH=$libdir "$root/usr/bin/orva" -e 'println join(split("packaged orva", " "), "-");' \
  | grep -qx 'packaged-orva' || fail "the packaged orva command does not run"

echo "$failures failed"
[ "$failures" -eq 0 ]
