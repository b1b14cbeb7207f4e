# Shared by the scripts in this folder: installs missing packages, builds the
# system data once per checkout, and builds one configuration quietly (the
# log is shown only when something fails).

VETRA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VETRA_JOBS=${VETRA_JOBS:-$(nproc 2>/dev/null || echo 2)}
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
# (everything when a test fails). Every test the tree registers must run
# and pass: a tree without tests, or one whose tests were skipped, passes
# ctest all the same.
vetra_ctest() {
  local dir="$VETRA_ROOT/$1" label=$2
  local log="$dir/ctest.log"
  if ! ctest --test-dir "$dir" -j "$VETRA_JOBS" --output-on-failure --timeout 300 --no-tests=error \
      >"$log" 2>&1; then
    cat "$log"
    echo "$label: tests failed" >&2
    return 1
  fi
  local registered passed
  registered=$(ctest --test-dir "$dir" -N | sed -n 's/^Total Tests: *//p')
  passed=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed +[0-9.]+ sec$' "$log")
  if [[ ${registered:-0} == 0 || $passed != "$registered" ]]; then
    cat "$log"
    echo "$label: $passed of ${registered:-0} registered tests ran and passed" >&2
    return 1
  fi
  echo "$label: $(grep -E 'tests passed' "$log")"
  # the end-to-end tests in a private fcitx, one line of their own
  local e2e
  e2e=$(sed -n 's/^e2e *= *\([0-9.]*\) sec\*proc (\([0-9]*\) tests)/\2 tests, \1 s summed/p' "$log")
  [[ -n "$e2e" ]] && echo "$label: end-to-end in fcitx (label e2e): $e2e"
  return 0
}

# vetra_package <build dir>: the Debian package of that tree's install (a tree
# configured with CMAKE_INSTALL_PREFIX=/usr), checked: dpkg-deb -c lists
# exactly the expected files, the version file holds the package version,
# lintian reports no error. As root it is also installed with apt-get, the
# end-to-end start-up check runs against the installed system, and it is
# purged again with none of its files left.
vetra_package() {
  local dir="$VETRA_ROOT/$1"
  rm -f "$dir"/fcitx-vetrapinyin_*.deb
  if ! (cd "$dir" && cpack -G DEB) >"$dir/cpack.log" 2>&1; then
    cat "$dir/cpack.log"
    echo "package: cpack failed" >&2
    return 1
  fi
  local deb
  deb=$(ls "$dir"/fcitx-vetrapinyin_*.deb)
  # Exactly these files, plus every file of the built system data.
  local addon_dir addon_conf_dir
  addon_dir=$(fcitx4-config --addondir)
  addon_conf_dir=$(fcitx4-config --addonconfigdir)
  {
    printf '%s\n' "$addon_dir/fcitx-vetrapinyin.so" \
      "$addon_conf_dir/fcitx-vetrapinyin.conf" "$addon_conf_dir/fcitx-vetracloudpinyin.conf" \
      /usr/share/locale/zh_CN/LC_MESSAGES/fcitx-vetrapinyin.mo /usr/share/vetrapinyin/vetra-version \
      /usr/share/doc/fcitx-vetrapinyin/copyright /usr/share/doc/fcitx-vetrapinyin/changelog.gz
    (cd "$VETRA_SYSTEM_DATA" && find . -type f -printf '/usr/share/fcitx-vetrapinyin/VetraInput/%P\n')
  } | sort >"$dir/expected-files.txt"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort >"$dir/package-files.txt"
  if ! diff -u "$dir/expected-files.txt" "$dir/package-files.txt"; then
    echo "package: the file list differs from the expected one (- expected, + packaged)" >&2
    return 1
  fi
  local version
  version=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/vetrapinyin/vetra-version)
  if [[ "$version" != "$(dpkg-deb -f "$deb" Version)" ]]; then
    echo "package: vetra-version holds '$version', not the package version" >&2
    return 1
  fi
  if ! lintian --fail-on error "$deb" >"$dir/lintian.log" 2>&1; then
    cat "$dir/lintian.log"
    echo "package: lintian reports errors" >&2
    return 1
  fi
  echo "package: ${deb#"$VETRA_ROOT/"} ($(wc -l <"$dir/package-files.txt") files), lintian: no errors"
  if [[ $(id -u) -ne 0 ]]; then
    echo "package: install test skipped (installing with apt-get needs root)"
    return 0
  fi
  vetra_package_install_test "$dir" "$deb"
}

# Installs the package, checks that fcitx loads it from the system's
# directories, purges it, and checks that none of its files is left.
vetra_package_install_test() {
  local dir=$1 deb=$2 log="$1/install-test.log" status=0
  if dpkg-query -W -f='${Status}' fcitx-vetrapinyin 2>/dev/null | grep -q "ok installed"; then
    echo "package: install test skipped (fcitx-vetrapinyin is installed already)"
    return 0
  fi
  cc -O2 -o "$dir/fcitx_drive" "$VETRA_ROOT/tests/e2e/fcitx_drive.c" $(pkg-config --cflags --libs dbus-1)
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$log" 2>&1; then
    cat "$log"
    echo "package: apt-get install failed" >&2
    return 1
  fi
  # no --addon-dir and no data override: only the installed files
  if ! bash "$VETRA_ROOT/tests/e2e/run_e2e.sh" --driver "$dir/fcitx_drive" --own panel \
       --expect-stub VetraImePinYinShow --expect-log $'^IM\t"vetrapinyin"' \
       -- wait-fcitx ic focusin enable getim >>"$log" 2>&1; then
    echo "package: the installed input method did not start in fcitx" >&2
    status=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq fcitx-vetrapinyin >>"$log" 2>&1 || status=1
  local left=0 f
  while read -r f; do
    [[ -e "$f" ]] && { echo "package: left after purge: $f" >&2; left=1; }
  done <"$dir/package-files.txt"
  [[ -d /usr/share/fcitx-vetrapinyin || -d /usr/share/vetrapinyin ]] && { echo "package: folders left after purge" >&2; left=1; }
  if ((status || left)); then
    cat "$log"
    return 1
  fi
  echo "package: installed with apt-get, started in fcitx, purged with nothing left"
}
