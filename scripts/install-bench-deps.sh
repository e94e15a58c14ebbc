#!/usr/bin/env bash
# Installs the interpreters bench/run compares ORVA against (Lua 5.4 with luac, Tcl 8.6,
# Debian's Python 3), and only those that are missing. Not needed to build or test ORVA;
# CI does not run it.
exec "$(dirname "$0")/install-deps.sh" lua5.4 tcl python3
