# Shared by the scripts in this folder: installs missing packages and builds
# one configuration quietly (the log is shown only when something fails).

VETRA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VETRA_JOBS=$(nproc 2>/dev/null || echo 2)

# Installs every package of scripts/packages.txt that is not installed yet.
vetra_install_packages() {
  local missing=() pkg
  while read -r pkg; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
  done < "$VETRA_ROOT/scripts/packages.txt"
  local sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  # The data build downloads source packages, which needs the package lists.
  if ((${#missing[@]} == 0)); then
    compgen -G "/var/lib/apt/lists/*_Packages*" >/dev/null || $sudo apt-get update -qq >/dev/null
    return 0
  fi
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# vetra_build <build dir> [cmake options...]: configure and build, quietly.
vetra_build() {
  local dir="$VETRA_ROOT/$1"; shift
  mkdir -p "$dir"
  local log="$dir/build.log"
  if ! { cmake -S "$VETRA_ROOT" -B "$dir" -G Ninja "$@" &&
         cmake --build "$dir" -j "$VETRA_JOBS"; } >"$log" 2>&1; then
    cat "$log"
    echo "build failed in $dir" >&2
    return 1
  fi
}

# vetra_ctest <build dir> <label>: run the tests, print the summary only
# (everything when a test fails).
vetra_ctest() {
  local dir="$VETRA_ROOT/$1" label=$2
  local log="$dir/ctest.log"
  if ! ctest --test-dir "$dir" -j "$VETRA_JOBS" --output-on-failure --timeout 300 >"$log" 2>&1; then
    cat "$log"
    echo "$label: tests failed" >&2
    return 1
  fi
  echo "$label: $(grep -E 'tests passed' "$log")"
}

# vetra_data_summary <build dir>: the one-screen summary of the system data.
vetra_data_summary() {
  cat "$VETRA_ROOT/$1/data/summary.txt" "$VETRA_ROOT/$1/data/compile-report.txt"
}
