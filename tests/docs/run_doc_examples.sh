#!/usr/bin/env bash
# Runs the examples of a Markdown document through the orva command and compares them with
# what the document says they print, so the docs cannot drift from the language.
#
#   run_doc_examples.sh ORVA DOC.md
#
# In the document, every ```orva block is a script, and it must be followed by its
# expectation (blank lines and one line of prose such as "Output:" may come between):
#   ```text            the exact standard output (the run must exit with status 0)
#   ```error           text that standard error contains (the run must exit with status 1)
# A block fenced as ```orva module=NAME is not run; it is written as NAME.orva beside the
# scripts, for the examples that follow it to "use". HTML comments right before a script
# set its command-line arguments, its environment, or the exit status its output needs:
#   <!-- args: 10.0.0.5 text -->     <!-- env: TZ=UTC -->     <!-- exit: 5 -->
#
#   run_doc_examples.sh --excerpts DOC.md
#
# checks instead that every ```cpp or ```cmake block after a "<!-- from PATH -->" comment
# is a verbatim excerpt of that file (PATH relative to the repository), and that every
# such block has the comment: the code shown is code that is compiled and run.
set -u

if [ "$1" = "--excerpts" ]; then
  doc=$2
  root=$(cd "$(dirname "$0")/../.." && pwd)
  failures=0; checked=0
  work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
  awk -v dir="$work" '
    /^<!-- from .* -->$/ { from = $3; next }
    /^```(cpp|cmake)$/ && !inblock { inblock = 1; n++; start = NR
      file = dir "/" n ".block"; print from > (dir "/" n ".from"); print start > (dir "/" n ".line")
      printf "" > file; from = ""; next }
    /^```/ && inblock { inblock = 0; close(file); next }
    inblock { print > file }
  ' "$doc"
  for block in "$work"/*.block; do
    [ -e "$block" ] || continue
    n=${block%.block}
    from=$(cat "$n.from"); line=$(cat "$n.line")
    checked=$((checked + 1))
    if [ -z "$from" ] || [ ! -f "$root/$from" ]; then
      echo "FAIL $doc:$line: the code block names no existing file (<!-- from PATH -->)"
      failures=$((failures + 1)); continue
    fi
    text=$(cat "$block"); source=$(cat "$root/$from")
    if [[ "$source" != *"$text"* ]]; then
      echo "FAIL $doc:$line: the code block is not an excerpt of $from"
      failures=$((failures + 1))
    fi
  done
  echo "$((checked - failures)) passed, $failures failed"
  [ "$checked" -gt 0 ] && [ "$failures" -eq 0 ]
  exit
fi

orva=$1
doc=$2
case "$orva" in */*) orva=$(cd "$(dirname "$orva")" && pwd)/$(basename "$orva") ;; esac
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT

# Split the document into numbered cases: N.orva, N.line, N.args, N.env, and N.text or
# N.error, N.status; modules go to NAME.orva. A script without an expectation gets N.missing.
awk -v dir="$work" '
  function finish_script() { if (pending) { print "" > (dir "/" n ".missing"); pending = 0 } }
  /^<!-- args: .* -->$/ { args = $0; sub(/^<!-- args: /, "", args); sub(/ -->$/, "", args); next }
  /^<!-- env: .* -->$/  { env = $0;  sub(/^<!-- env: /, "", env);   sub(/ -->$/, "", env);   next }
  /^<!-- exit: [0-9]+ -->$/ { status = $3; next }
  !inblock && /^```orva module=/ { finish_script(); inblock = "module"
    name = $0; sub(/^```orva module=/, "", name); file = dir "/" name ".orva"; printf "" > file; next }
  !inblock && /^```orva/ { finish_script(); inblock = "script"; n++
    file = dir "/" n ".orva"; printf "" > file
    print NR > (dir "/" n ".line"); print args > (dir "/" n ".args"); print env > (dir "/" n ".env")
    print status + 0 > (dir "/" n ".status"); args = ""; env = ""; status = 0; next }
  !inblock && /^```(text|error)$/ && pending { inblock = substr($0, 4); pending = 0
    file = dir "/" n "." inblock; printf "" > file; next }
  !inblock && /^```/ { finish_script(); inblock = "other"; next }
  inblock && /^```$/ { close(file); if (inblock == "script") { pending = 1; prose = 0 } inblock = ""; next }
  inblock == "other" { next }
  inblock { print > file; next }
  pending && /^[[:space:]]*$/ { next }
  pending && prose == 0 { prose = 1; next }
  pending { finish_script() }
  END { finish_script() }
' "$doc"

failures=0; count=0
for script in "$work"/[0-9]*.orva; do
  [ -e "$script" ] || continue
  n=${script%.orva}; line=$(cat "$n.line")
  count=$((count + 1))
  if [ -e "$n.missing" ]; then
    echo "FAIL $doc:$line: the example has no \`\`\`text or \`\`\`error block after it"
    failures=$((failures + 1)); continue
  fi
  read -r -a args <<<"$(cat "$n.args")"
  read -r -a envs <<<"$(cat "$n.env")"
  (cd "$work" && env ${envs[@]+"${envs[@]}"} "$orva" "$script" ${args[@]+"${args[@]}"} \
     >"$n.stdout" 2>"$n.stderr" </dev/null)
  status=$?
  if [ -e "$n.text" ]; then
    if [ $status -ne "$(cat "$n.status")" ] || ! cmp -s "$n.text" "$n.stdout"; then
      echo "FAIL $doc:$line: exit status $status; output differs (expected, then actual):"
      cat "$n.text"; echo "---"; cat "$n.stdout"; cat "$n.stderr"
      failures=$((failures + 1))
    fi
  else
    expected=$(cat "$n.error")
    if [ $status -ne 1 ] || ! grep -qF -- "$expected" "$n.stderr"; then
      echo "FAIL $doc:$line: expected exit status 1 and the error \"$expected\"; got $status:"
      cat "$n.stderr"
      failures=$((failures + 1))
    fi
  fi
done
echo "$((count - failures)) passed, $failures failed"
[ "$count" -gt 0 ] && [ "$failures" -eq 0 ]
