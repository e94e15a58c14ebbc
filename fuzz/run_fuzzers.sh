#!/usr/bin/env bash
# Runs ORVA's libFuzzer targets from a fresh seed corpus.
#
#   fuzz/run_fuzzers.sh BUILD_DIR SECONDS [FUZZER...]
#
# BUILD_DIR is a build folder configured with -DORVA_FUZZ=ON (clang); the fuzzers named
# (default: every one built there) run one after the other for SECONDS each. The seed
# corpus is made anew from the golden scripts and the examples; inputs the fuzzers add go
# to BUILD_DIR/fuzz-corpus/<fuzzer>, and a crashing input is written to
# BUILD_DIR/fuzz-artifacts/. Exits non-zero when any fuzzer finds a crash, a leak, a
# timeout or an out-of-memory input.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS [FUZZER...]" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
seconds="$2"
shift 2
fuzzers=("$@")
if [ ${#fuzzers[@]} -eq 0 ]; then
  for f in compile_fuzzer run_fuzzer builtins_fuzzer; do
    [ -x "$build/fuzz/$f" ] && fuzzers+=("$f")
  done
fi

# Seeds: every script of the test suite and the examples, one file each.
seeds="$build/fuzz-corpus/seed"
rm -rf "$seeds"
mkdir -p "$seeds" "$build/fuzz-artifacts"
n=0
while IFS= read -r -d '' script; do
  n=$((n + 1))
  cp "$script" "$seeds/$n-$(basename "$script")"
done < <(find "$root/tests/scripts" "$root/examples" -name '*.orva' -print0 | sort -z)

# The fuzzers run in an empty folder: "use NAME" looks for NAME.orva in the current one.
work="$build/fuzz-work"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
status=0
failed=()
for f in "${fuzzers[@]}"; do
  corpus="$build/fuzz-corpus/$f"
  log="$build/fuzz-artifacts/$f.log"
  mkdir -p "$corpus"
  echo "== $f: ${seconds}s from $n seeds (log: $log) =="
  # -timeout: no single input may take longer than this many seconds (the run fuzzer bounds
  # every run far below it); -rss_limit_mb: the same for memory.
  if "$build/fuzz/$f" "$corpus" "$seeds" \
      -dict="$root/fuzz/orva.dict" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$f-" >"$log" 2>&1; then
    grep -E '^(Done|stat::peak_rss_mb)' "$log" || true
  else
    echo "$f: FAILED" >&2
    failed+=("$f")
    status=1
  fi
done

# A failure is reported last, so that the end of a CI log shows what went wrong: the
# fuzzer's report and the input that caused it.
for f in "${failed[@]}"; do
  echo "== $f failed: its report ==" >&2
  grep -v -E '^#[0-9]+' "$build/fuzz-artifacts/$f.log" | tail -n 60 >&2
  for artifact in "$build/fuzz-artifacts/$f"-*; do
    [ -f "$artifact" ] || continue
    echo "== $artifact (escaped) ==" >&2
    head -c 2048 "$artifact" | od -An -c | head -n 40 >&2
  done
done
exit $status
