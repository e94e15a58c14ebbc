#!/usr/bin/env bash
# Installs the interpreters bench/run compares ORVA against (Lua 5.4 with luac, Tcl 8.6,
# Debian's Python 3), and only those that are missing. Safe to run again: when everything
# is present it does nothing. Not needed to build or test ORVA; CI does not run it.
set -euo pipefail

packages=(lua5.4 tcl python3)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "install-bench-deps: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
