#!/usr/bin/env bash
# scripts/check's test run (vetra_ctest) on trees it must not pass: one that
# registers no test, and one whose test was skipped; a tree whose every
# test passes does pass.
# Usage: ctest_counts_test.sh SOURCE_ROOT
set -uo pipefail
root=$1
source "$root/scripts/common.sh"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vetra-counts-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
failures=0
VETRA_ROOT=$tmp  # the trees lie where the scripts' build trees do

# tree NAME CMAKE-LINES: a configured tree of that test list.
tree() {
  mkdir -p "$tmp/$1"
  printf 'cmake_minimum_required(VERSION 3.20)\nproject(t NONE)\nenable_testing()\n%s\n' "$2" \
    >"$tmp/$1/CMakeLists.txt"
  cmake -S "$tmp/$1" -B "$tmp/$1/build" >/dev/null || exit 1
}
tree none ""
tree skipped 'add_test(NAME a COMMAND true)
add_test(NAME b COMMAND sh -c "exit 77")
set_tests_properties(b PROPERTIES SKIP_RETURN_CODE 77)'
tree passing 'add_test(NAME a COMMAND true)
add_test(NAME b COMMAND true)'

for case in "none|1" "skipped|1" "passing|0"; do
  IFS='|' read -r name want <<<"$case"
  status=0
  vetra_ctest "$name/build" "$name" >"$tmp/out" 2>&1 || status=$?
  [[ $status == "$want" ]] || { echo "FAIL: $name: status $status, not $want: $(cat "$tmp/out")" >&2; failures=$((failures + 1)); }
done
((failures == 0))
