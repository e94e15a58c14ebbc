#!/usr/bin/env bash
# Installs the Debian packages ORVA needs to build and test (clang-14 and its runtime for
# the fuzzers), and only those that are missing.
# Safe to run again: when everything is present it does nothing.
#   install-deps.sh             the build and test packages
#   install-deps.sh PACKAGE...  those packages instead (used by install-bench-deps.sh)
set -euo pipefail

packages=(cmake make g++ bison flex libtre-dev libgtest-dev libedit-dev python3 pkg-config clang-14 libclang-rt-14-dev)
[ $# -gt 0 ] && packages=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "$(basename "$0"): installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
