#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds the outside program
# against the installed library twice (CMake package, pkg-config) and runs
# both; then checks that the installed vetra-convert runs and looks for its
# data under the prefix, not in the build.
# Usage: install_check.sh BUILD_DIR SOURCE_DIR DATA_DIR "EXTRA_FLAGS"
set -euo pipefail
build=$1 source=$2 data=$3 flags=${4:-}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vetra-install-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
log="$tmp/log"
fail() { cat "$log" >&2 2>/dev/null || true; echo "install_check: $*" >&2; exit 1; }

prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >"$log" 2>&1 || fail "cmake --install failed"
for f in include/vetra/vetra_kernel.h; do [[ -f "$prefix/$f" ]] || fail "not installed: $f"; done
cmake -S "$source/tests/outside" -B "$tmp/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_CXX_FLAGS="$flags" >"$log" 2>&1 || fail "the CMake package was not found"
cmake --build "$tmp/consumer" >"$log" 2>&1 || fail "building against the CMake package failed"

pcdir=$(dirname "$(find "$prefix" -name vetra-kernel.pc | head -1)")
libdir=$(PKG_CONFIG_PATH="$pcdir" pkg-config --variable=libdir vetra-kernel)
# shellcheck disable=SC2046,SC2086
c++ -std=c++20 $flags "$source/tests/outside/outside_program.cpp" \
    $(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs vetra-kernel) -Wl,-rpath,"$libdir" \
    -o "$tmp/pc_program" >"$log" 2>&1 || fail "building with pkg-config failed"

skipped=0
for program in "$tmp/consumer/outside_program" "$tmp/pc_program"; do
  status=0
  TMPDIR="$tmp" "$program" "$data" || status=$?
  case $status in
    0) ;;
    77) skipped=1 ;;
    *) fail "$program failed ($status)" ;;
  esac
done

"$prefix/bin/vetra-convert" --help >/dev/null || fail "the installed vetra-convert does not run"
# Its default data is the installed one: converted when the data was
# installed too, else told missing under the prefix.
installed="$prefix/bin/../share/fcitx-vetrapinyin/VetraInput"
status=0
HOME="$tmp" "$prefix/bin/vetra-convert" --user "$tmp/user" nihao >"$tmp/out" 2>"$tmp/err" || status=$?
if [[ -f $installed/qzim_core.bin ]]; then
  [[ $status == 0 && $(cat "$tmp/out") == nihao$'\t'* ]] || fail "the installed data was not used ($status)"
else
  [[ $status == 1 ]] || fail "the installed vetra-convert used data it should not have ($status)"
  grep -q "$installed" "$tmp/err" || fail "not the installed data path: $(cat "$tmp/err")"
fi
((skipped == 0)) || exit 77
