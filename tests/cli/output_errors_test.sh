#!/usr/bin/env bash
# The orva command's output behaves as other Unix tools' does: a failed write (a full
# disk) is an error with a non-zero exit that also stops the script, and a reader that
# goes away ends the script at once and without a message, also when the parent ignores
# SIGPIPE.
#   output_errors_test.sh ORVA
set -u
orva=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
err=$(mktemp); trap 'rm -f "$err"' EXIT

for args in "-e println(1);" "--dump -e x=1;"; do
  # shellcheck disable=SC2086
  "$orva" $args >/dev/full 2>"$err"; status=$?
  [ "$status" -ne 0 ] || fail "orva $args >/dev/full exits 0"
  grep -q "cannot write standard output: No space left on device" "$err" || fail "orva $args >/dev/full: $(cat "$err")"
done

# A script that would write for ever stops at the failed write, with the write error only.
timeout 5 "$orva" -e 'while (1) println "line";' >/dev/full 2>"$err"; status=$?
[ "$status" -eq 1 ] || fail "an endless script >/dev/full ended with status $status"
[ "$(cat "$err")" = "orva: cannot write standard output: No space left on device" ] ||
  fail "an endless script >/dev/full reported: $(cat "$err")"

for ignore in "" "trap '' PIPE;"; do
  out=$(bash -c "$ignore timeout 20 '$orva' -e 'while (1) println \"line\";' 2>'$err' | head -n 1")
  [ "$out" = "line" ] || fail "${ignore}orva | head -1 printed '$out'"
  [ ! -s "$err" ] || fail "${ignore}orva | head -1 wrote to standard error: $(cat "$err")"
done
status=$(bash -c "trap '' PIPE; timeout 20 '$orva' -e 'while (1) println 1;' | head -n 1 >/dev/null; echo \${PIPESTATUS[0]}")
[ "$status" != 124 ] || fail "orva kept running after its reader left"

echo "$failures failed"
[ "$failures" -eq 0 ]
