#!/usr/bin/env bash
# Runs one golden script through the orva command and compares what it did with what the
# script says it should do. Directives, each in a "//" comment anywhere in the script:
#   // expect: TEXT          one line of standard output (in order)
#   // expect nothing        no standard output at all
#   // expect error: TEXT    standard error contains TEXT; exit status 1 unless stated
#   // expect exit: N        exit status N (default 0, or 1 with an expected error)
#   // args: A B ...         arguments after the script file
#   // options: --dump ...   options before the script file
#   // env: NAME=VALUE ...   environment for the run
#   // stdin: FILE           standard input for the run (a file beside the script;
#                            /dev/null without this)
# When NAME.out exists beside the script, standard output must equal it byte for byte.
# The script runs in its own directory, so modules beside it are found.
set -u
orva=$1
# The run happens in the script's folder, so make a relative command path absolute.
case "$orva" in */*) orva=$(cd "$(dirname "$orva")" && pwd)/$(basename "$orva") ;; esac
script=$2
dir=$(dirname "$script")
base=$(basename "$script")

directive() { grep -o "// $1.*" "$script" | sed "s|^// $1 \{0,1\}||"; }

expected_out=$(mktemp); actual_out=$(mktemp); actual_err=$(mktemp)
trap 'rm -f "$expected_out" "$actual_out" "$actual_err"' EXIT

if [ -f "${script%.orva}.out" ]; then
  cp "${script%.orva}.out" "$expected_out"
else
  directive 'expect:' > "$expected_out"
fi
expected_errors=$(directive 'expect error:')
expected_exit=$(directive 'expect exit:' | tail -n 1)
if [ -z "$expected_exit" ]; then
  if [ -n "$expected_errors" ]; then expected_exit=1; else expected_exit=0; fi
fi
read -r -a args <<<"$(directive 'args:' | tr '\n' ' ')"
read -r -a options <<<"$(directive 'options:' | tr '\n' ' ')"
read -r -a envs <<<"$(directive 'env:' | tr '\n' ' ')"
input=$(directive 'stdin:' | tail -n 1)

(cd "$dir" && env ${envs[@]+"${envs[@]}"} "$orva" ${options[@]+"${options[@]}"} "$base" ${args[@]+"${args[@]}"} \
  >"$actual_out" 2>"$actual_err" <"${input:-/dev/null}")
status=$?

failed=0
if ! cmp -s "$expected_out" "$actual_out"; then
  echo "standard output differs (expected <, actual >):"
  diff "$expected_out" "$actual_out" | head -40
  failed=1
fi
while IFS= read -r want; do
  [ -z "$want" ] && continue
  if ! grep -qF -- "$want" "$actual_err"; then
    echo "standard error lacks: $want"
    failed=1
  fi
done <<<"$expected_errors"
if [ -z "$expected_errors" ] && [ -s "$actual_err" ]; then
  echo "unexpected standard error:"
  head -20 "$actual_err"
  failed=1
fi
if [ "$status" != "$expected_exit" ]; then
  echo "exit status $status, expected $expected_exit"
  [ -s "$actual_err" ] && head -5 "$actual_err"
  failed=1
fi
exit $failed
