#!/usr/bin/env bash
# Installs what bench/run needs, and only what is missing: the packages that build ORVA
# (bench/run builds a Release orva when none is given), the interpreters it compares ORVA
# against (Lua 5.4 with luac, Tcl 8.6, Debian's Python 3), the C APIs its embedding hosts
# are built against (Lua 5.4, Python 3), and GNU time, which reports each run's peak
# memory. Not needed to build or test ORVA; CI does not run it.
exec "$(dirname "$0")/install-deps.sh" cmake make g++ bison flex libtre-dev pkg-config \
   lua5.4 liblua5.4-dev tcl python3 python3-dev time
