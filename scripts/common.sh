# Shared by the scripts in this folder: installs missing packages, builds the
# system data once per checkout, and builds one configuration quietly (the
# log is shown only when something fails).

VETRA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VETRA_JOBS=$(nproc 2>/dev/null || echo 2)
# One download cache and one data build serve every script and build
# directory of the checkout; the other build directories test and run on
# the files of build/data.
VETRA_DATA_CACHE="$VETRA_ROOT/build/data-cache"
VETRA_DATA_BUILD="$VETRA_ROOT/build/data"
VETRA_SYSTEM_DATA="$VETRA_DATA_BUILD/data/VetraInput"

# Installs every package of scripts/packages.txt that is not installed yet.
# apt's own chatter (debconf notes and the like) goes to build/apt.log and is
# shown only when apt fails.
vetra_install_packages() {
  local missing=() pkg
  while read -r pkg; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
  done < "$VETRA_ROOT/scripts/packages.txt"
  local sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  mkdir -p "$VETRA_ROOT/build"
  local log="$VETRA_ROOT/build/apt.log"
  # The data build downloads source packages, which needs the package lists.
  if ((${#missing[@]} == 0)); then
    compgen -G "/var/lib/apt/lists/*_Packages*" >/dev/null && return 0
  else
    echo "installing: ${missing[*]}"
  fi
  # env, not a prefix: sudo would drop the variable.
  if ! { $sudo apt-get update -qq &&
         { ((${#missing[@]} == 0)) ||
           $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"; }; } >"$log" 2>&1; then
    cat "$log"
    echo "apt-get failed (log: $log)" >&2
    return 1
  fi
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

# vetra_data: builds the system data in build/data (nothing when it is up to
# date) and prints one line saying where it is and whether it was built now.
vetra_data() {
  # Checkouts whose scripts built the data per build directory: keep their
  # downloads rather than fetch them again.
  local old
  for old in build/check build/demo; do
    if [[ ! -d "$VETRA_DATA_CACHE/debs" && -d "$VETRA_ROOT/$old/data-cache/debs" ]]; then
      rm -rf "$VETRA_DATA_CACHE"
      mv "$VETRA_ROOT/$old/data-cache" "$VETRA_DATA_CACHE"
    fi
  done
  mkdir -p "$VETRA_DATA_BUILD"
  # One script at a time builds the shared tree; another one waits.
  exec 9>"$VETRA_ROOT/build/.data-build.lock"
  if ! flock -n 9; then
    echo "waiting for another script's data build to finish"
    flock 9
  fi
  local stamp="$VETRA_DATA_BUILD/.data-build-started" start=$SECONDS
  touch "$stamp"
  vetra_build build/data -DCMAKE_BUILD_TYPE=Release -DVETRA_BUILD_DATA=ON -DVETRA_BUILD_TESTS=OFF \
    -DVETRA_DATA_CACHE="$VETRA_DATA_CACHE"
  local out="$VETRA_DATA_BUILD/data" where=${VETRA_SYSTEM_DATA#"$VETRA_ROOT/"}
  if [[ -n $(find "$out" -type f -newer "$stamp" -print -quit) ]]; then
    local fetched=""
    [[ -n $(find "$VETRA_DATA_CACHE/debs" -type f -newer "$stamp" -print -quit) ]] && fetched="downloaded and "
    VETRA_DATA_STATE="${fetched}built in $((SECONDS - start)) s"
  else
    VETRA_DATA_STATE="cached, nothing rebuilt (built $(date -u -r "$out/summary.txt" '+%Y-%m-%d %H:%M UTC'))"
  fi
  rm -f "$stamp"
  exec 9>&-
  echo "system data in $where: $VETRA_DATA_STATE"
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
  # the end-to-end tests in a private fcitx, one line of their own
  local e2e
  e2e=$(sed -n 's/^e2e *= *\([0-9.]*\) sec\*proc (\([0-9]*\) tests)/\2 tests, \1 s summed/p' "$log")
  [[ -n "$e2e" ]] && echo "$label: end-to-end in fcitx (label e2e): $e2e"
  return 0
}
