#!/bin/sh
# The training set of the profile-guided build (cmake/pgo.cmake): runs an instrumented
# build of ORVA on the work ORVA is for, so that its runs leave the profile liborva.so is
# then optimized with. The runs are small (a few seconds in all); what they print is
# thrown away, and one that fails only leaves its part of the profile out.
#   pgo-train.sh BUILD PROFILE
# BUILD is the instrumented build folder, PROFILE the folder its runs write to; nothing
# runs while the profile is newer than every program of BUILD.
set -u
build=$1
profile=$2
here=$(cd "$(dirname "$0")/.." && pwd)
orva=$build/tools/orva/orva
host=$build/orva_pgo_host
stamp=$profile/.trained

newest=$(ls -t "$orva" "$host" "$build"/src/liborva.so* 2>/dev/null | head -n 1)
if [ -f "$stamp" ] && [ -n "$newest" ] && [ "$stamp" -nt "$newest" ]; then
  exit 0
fi
# Counts from an older build would be merged into the new ones: start afresh.
rm -rf "$profile"
mkdir -p "$profile"

# Runs a command with its output thrown away and its input from $input (none by default).
run() {
  "$@" >/dev/null 2>&1 <"${input:-/dev/null}" || echo "pgo-train: $* failed; the profile leaves it out" >&2
}

# Script functions with parameters and locals: recursion, loops, texts, arrays, matching.
run "$orva" "$here/bench/fib.orva" 22
run "$orva" "$here/bench/loop.orva" 300000
run "$orva" "$here/bench/strings.orva" 5000
run "$orva" "$here/bench/arrays.orva" 10000 3
run "$orva" "$here/bench/sieve.orva" 50000 2
run "$orva" "$here/bench/regex.orva" 5000
run "$orva" "$here/bench/calls.orva" 200000
# A host that compiles a handler once and calls it per event.
run "$host" "$here/bench/embed/handler.orva" 20000
# Whole scripts as the command runs them, compiled and run once.
(cd "$here/examples" && run "$orva" log_report.orva)
(cd "$here/examples" && run "$orva" devices.orva)
(cd "$here/examples" && input=log_summary.log run "$orva" log_summary.orva)

touch "$stamp"
