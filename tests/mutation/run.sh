#!/usr/bin/env bash
# Puts each fault of tests/mutation/mutations.txt into a scratch copy of the tree, one at a
# time, builds it (Debug, incremental), runs the tests until the first failure and puts the
# file back. Prints one row per mutation and the totals:
#   caught    a test failed (the first one is named)
#   MISSED    every test passed: the fault would slip through
#   STALE     the text to find is not in the file exactly once: the list needs updating
#   NO-BUILD  the mutated tree does not compile: the mutation needs updating
# Exits 0 only when every mutation was caught.
#   run.sh [REGEX]  only the mutations whose file or fault line matches REGEX (extended)
#   run.sh --check  only checks that every text to find is still there exactly once
# Environment: MUTATION_BUILD (scratch folder, default build-mutation), JOBS (default 2),
# MUTATION_TIMEOUT (seconds per test, default 60).
set -uo pipefail
shopt -u patsub_replacement 2>/dev/null

root=$(cd "$(dirname "$0")/../.." && pwd)
list=$root/tests/mutation/mutations.txt
work=$(realpath -m "${MUTATION_BUILD:-$root/build-mutation}")
tree=$work/tree
build=$work/build
logs=$work/logs
jobs=${JOBS:-2}
timeout=${MUTATION_TIMEOUT:-60}
only=${1:-}

# Brings the scratch tree level with the working tree (committed or not), touching only the
# files that differ, so the build after it stays incremental.
sync_tree() {
  local files=$work/files
  mkdir -p "$tree"
  (cd "$root" && git ls-files -co --exclude-standard) | sort >"$files"
  while IFS= read -r f; do
    [ -f "$root/$f" ] || continue
    if ! cmp -s "$root/$f" "$tree/$f"; then
      mkdir -p "$(dirname "$tree/$f")"
      cp "$root/$f" "$tree/$f"
    fi
  done <"$files"
  (cd "$tree" && find . -type f | sed 's|^\./||' | sort) | comm -23 - "$files" \
    | (cd "$tree" && xargs -r -d '\n' rm -f)
}

build_tree() {
  cmake --build "$build" -j "$jobs" "${@:2}" >"$1" 2>&1
}

# Runs the tests (those matching the regular expression $2, if given) until the first
# failure; prints the name of the failing test, if any.
run_tests() {
  (cd "$build" && ctest --stop-on-failure -j "$jobs" --timeout "$timeout" ${2:+-R "$2" --no-tests=error} >"$1" 2>&1)
  local status=$?
  grep -m1 -oP '(?<=#)\d+: \S+(?=\s.*\*\*\*)' "$1" | sed 's/^[0-9]*: //'
  return $status
}

# The build targets the tests matching the regular expression $1 need: the orva command
# for the script tests, and the unit-test program of each test suite named in it.
targets_for() {
  local word file targets=orva_cli
  for word in $(grep -oE '[A-Za-z_][A-Za-z0-9_]*' <<<"$1" | sort -u); do
    for file in $(grep -lE "^TEST(_F|_P)?\($word," "$tree"/tests/unit/*_test.cpp); do
      targets+=" $(basename "$file" .cpp)"
    done
  done
  echo "$targets"
}

# Builds and tests the mutated tree; prints the first failing test. Returns 0 when every
# test passed, 1 when one failed, 2 when the tree does not build and 3 when the tests named
# to catch it ($2) match no test. The named tests run first, with only what they need
# built; then the script tests, which need only the library and the orva command; then all.
test_mutant() {
  local log=$1 named=$2
  if [ -n "$named" ]; then
    # shellcheck disable=SC2046
    build_tree "$log.build" --target $(targets_for "$named") || return 2
    if ! run_tests "$log.named" "$named"; then
      grep -q "No tests were found" "$log.named" && return 3
      return 1
    fi
  fi
  build_tree "$log.build" --target orva_cli || return 2
  run_tests "$log.scripts" '^(golden/|docs/language|docs/builtins|example/.*[.]orva)' || return 1
  build_tree "$log.build" || return 2
  run_tests "$log.test" || return 1
  return 0
}

# Reads the list: blocks of "file:", "find:", "replace:" and "fault:" lines, separated by
# blank lines; "#" starts a comment line. Consecutive "find:" (or "replace:") lines are one
# text of several lines.
declare -a m_file m_find m_replace m_fault m_catch
read_list() {
  local line key value i n=0 open=0
  while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in \#*) continue ;; esac
    if [ -z "$line" ]; then
      [ $open -eq 1 ] && n=$((n + 1))
      open=0
      continue
    fi
    key=${line%%:*}
    value=${line#*:}
    value=${value# }
    open=1
    case "$key" in
      file) m_file[n]=$value ;;
      find) m_find[n]=${m_find[n]+${m_find[n]}$'\n'}$value ;;
      replace) m_replace[n]=${m_replace[n]+${m_replace[n]}$'\n'}$value ;;
      fault) m_fault[n]=$value ;;
      catch) m_catch[n]=$value ;;
      *) echo "$list: unknown key in: $line" >&2; exit 2 ;;
    esac
  done <"$list"
  for i in "${!m_find[@]}" "${!m_fault[@]}" "${!m_catch[@]}"; do
    [ -n "${m_file[i]:-}" ] && [ -n "${m_find[i]:-}" ] ||
      { echo "$list: fault block $((i + 1)) lacks its file: or find: line" >&2; exit 2; }
  done
}

count_of() {
  local text=$1 find=$2
  local rest=${text//"$find"/}
  echo $(((${#text} - ${#rest}) / ${#find}))
}

# Applies mutation $1 to the scratch tree; prints the outcome and the catching test.
try_mutation() {
  local i=$1 target=$tree/${m_file[$1]} text count log
  log=$logs/$(printf '%03d' $((i + 1)))
  rm -f "$log".*
  if [ ! -f "$target" ]; then
    echo "STALE|file not found"
    return
  fi
  text=$(cat "$target"; printf x)
  text=${text%x}
  count=$(count_of "$text" "${m_find[i]}")
  if [ "$count" -ne 1 ]; then
    echo "STALE|find-text appears $count times"
    return
  fi
  cp -p "$target" "$log.original"
  trap 'cp "$log.original" "$target"; exit 130' INT TERM
  printf '%s' "${text/"${m_find[i]}"/"${m_replace[i]}"}" >"$target"
  local result failed status
  failed=$(test_mutant "$log" "${m_catch[i]:-}")
  status=$?
  case $status in
    0) result="MISSED|" ;;
    2) result="NO-BUILD|see $log.build" ;;
    3) result="STALE|catch: names no test" ;;
    *) result="caught|${failed:-see the logs in $logs}" ;;
  esac
  # A fault caught, but not by the tests named to catch it: the list should name the test.
  if [ "$status" = 1 ] && [ -n "${m_catch[i]:-}" ] && [ -f "$log.scripts" ]; then
    result+=" (not by the catch: tests)"
  fi
  # A fresh time stamp makes the next build compile the restored file again.
  cp "$log.original" "$target"
  trap - INT TERM
  echo "$result"
}

# The STALE test of try_mutation on the working tree, without building anything.
check_list() {
  local i text count stale=0
  for i in "${!m_file[@]}"; do
    if [ ! -f "$root/${m_file[i]}" ]; then
      count=0
    else
      text=$(cat "$root/${m_file[i]}"; printf x)
      count=$(count_of "${text%x}" "${m_find[i]}")
    fi
    if [ "$count" -ne 1 ]; then
      printf '%-4s STALE    %-34s %s (find-text appears %s times)\n' "$((i + 1))" "${m_file[i]}" "${m_fault[i]}" "$count"
      stale=$((stale + 1))
    fi
  done
  echo "${#m_file[@]} mutations, $stale stale"
  [ $stale -eq 0 ]
}

main() {
  read_list
  if [ "$only" = "--check" ]; then
    check_list
    exit
  fi
  mkdir -p "$logs"
  sync_tree
  [ -f "$build/CMakeCache.txt" ] ||
    cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DORVA_LTO=OFF >"$logs/configure" 2>&1 ||
    { echo "configure failed: $logs/configure"; exit 2; }
  echo "building and testing the unmutated tree in $build ..."
  build_tree "$logs/baseline.build" || { echo "the tree does not build: $logs/baseline.build"; exit 2; }
  if ! failed=$(run_tests "$logs/baseline.test"); then
    echo "the unmutated tree fails $failed: fix that first ($logs/baseline.test)"
    exit 2
  fi

  local caught=0 missed=0 stale=0 broken=0 total=0 i outcome status detail
  printf '%-4s %-8s %-34s %s\n' "#" "result" "file" "fault / catching test"
  for i in "${!m_file[@]}"; do
    if [ -n "$only" ] && ! [[ "${m_file[i]} ${m_fault[i]}" =~ $only ]]; then continue; fi
    # Tests written while the runner works count from the next fault on.
    sync_tree
    outcome=$(try_mutation "$i")
    status=${outcome%%|*}
    detail=${outcome#*|}
    total=$((total + 1))
    case "$status" in
      caught) caught=$((caught + 1)) ;;
      MISSED) missed=$((missed + 1)) ;;
      STALE) stale=$((stale + 1)) ;;
      NO-BUILD) broken=$((broken + 1)) ;;
    esac
    printf '%-4s %-8s %-34s %s\n' "$((i + 1))" "$status" "${m_file[i]}" "${m_fault[i]}"
    [ -n "$detail" ] && printf '%-48s -> %s\n' "" "$detail"
  done
  # The last restored file is compiled again, so the build folder ends unmutated.
  build_tree "$logs/final.build" || true
  echo "total $total: caught $caught, missed $missed, stale $stale, no-build $broken"
  [ $((missed + stale + broken)) -eq 0 ]
}

main
