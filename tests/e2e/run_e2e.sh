#!/bin/bash
# One end-to-end run: a private session bus, a stub owning the panel's and the
# watchdog's names, a private headless fcitx with a temporary HOME, the
# addon from the build's addon folder and no other input method than the
# keyboard, and the driver's commands. Cleans up by process id; stops fcitx
# with the D-Bus Exit, which runs every Destroy.
#
#   run_e2e.sh --driver PATH --addon-dir DIR [options] [-- DRIVER-COMMAND...]
#
# Options:
#   --im NAME            input method fcitx starts with (default vetrapinyin);
#                        both it and vetrapinyin are enabled
#   --page-size N        fcitx's candidate page size (default 5)
#   --own NAME           the stub owns NAME (repeatable); "panel" and "watchdog"
#                        stand for the names of display 0
#   --hang               the stub never answers (a hung panel)
#   --home-file REL SRC  copy SRC to $HOME/REL before fcitx starts (repeatable)
#   --home-make REL KIND make $HOME/REL before fcitx starts: KIND "fifo", "dir",
#                        or "link:TARGET" (a symbolic link to TARGET)
#   --watchdog           a stub watchdog program first on fcitx's PATH; it
#                        records each start
#   --fifo-reader        a reader waits on the save-done FIFO (VETRA_SYNC_FIFO)
#   --setup CMD          CMD HOME runs before fcitx starts, after the files are
#                        made (CMD is split on spaces; repeatable); one that
#                        exits 77 skips the run (exit status 77)
#   --fcitx-env K=V      extra environment for fcitx (repeatable; "@HOME@" in V
#                        stands for the HOME)
#   --preload LIBS       LD_PRELOAD for fcitx (a sanitizer runtime); the run
#                        fails when fcitx's log holds a sanitizer report
#   --server "CMD ARGS"  start a server program before fcitx (the words of one
#                        argument); its "ENV K=V" lines up to "READY" become
#                        fcitx's environment; stopped at the end
#   --keep               keep the temporary folder and print its path
# Checks after the run (each prints OK or FAIL):
#   --expect-log ERE         a line of the driver's output matches
#   --expect-no-log ERE      no line of the driver's output matches
#   --expect-stub ERE        a line of the stub's output matches
#   --expect-no-stub ERE     no line of the stub's output matches
#   --expect-server ERE      a line of the server's output matches
#   --expect-no-server ERE   no line of the server's output matches
#   --expect-fcitx-log ERE   a line of fcitx's own log (first fcitx) matches
#   --expect-no-fcitx-log ERE  no line of it matches
#   --expect-file REL SRC    $HOME/REL holds exactly the bytes of SRC
#   --expect-nonempty REL    $HOME/REL exists and is not empty
#   --expect-content REL ERE $HOME/REL exists and its whole content matches ERE
#   --expect-watchdog N      the stub watchdog started N times
#   --expect-fifo-signalled  the FIFO reader was released
#   --check CMD              CMD DRIVE-LOG HOME exits 0 (CMD is split on spaces)
# "--restart" among the driver commands stops fcitx with Exit and starts it
# again on the same HOME; "--kill-restart" kills it instead (no Destroy runs:
# only what was saved while it ran survives); "--term-restart" ends it with
# SIGTERM, as a logout does (it must leave within 10 s). "@HOME@" in a driver command
# stands for that HOME. "--on-second" runs the next commands on a second fcitx
# of the same HOME (another session, on a bus and with a stub of its own),
# started when not running, and "--on-first" goes back to the first one; the
# second keeps running across them until a "--restart" ends one of its phases
# or the run ends (the first stops at the end of each of its phases, as with
# "--restart", or is killed with "--kill-on-second"). "--beside-second" runs
# the next commands on the second fcitx beside the phases that follow (a
# call held there while the first answers others): those start once its
# driver printed a NOTE line or ended, and the run waits for it (its output
# joins the driver's) before it stops the second and checks. Exit status 0
# when the driver and every check pass.
set -uo pipefail

drive= im=vetrapinyin page_size=5 hang=0 watchdog=0 fifo_reader=0 keep=0 preload= server=
addon_dirs=() owns=() home_files=() home_makes=() setups=() fcitx_env=() checks=() driver_cmds=()
while [ $# -gt 0 ]; do
    case "$1" in
        --driver) drive=$2; shift 2 ;;
        --addon-dir) addon_dirs+=("$2"); shift 2 ;;
        --im) im=$2; shift 2 ;;
        --page-size) page_size=$2; shift 2 ;;
        --own) owns+=("$2"); shift 2 ;;
        --hang) hang=1; shift ;;
        --home-file) home_files+=("$2" "$3"); shift 3 ;;
        --home-make) home_makes+=("$2" "$3"); shift 3 ;;
        --setup) setups+=("$2"); shift 2 ;;
        --watchdog) watchdog=1; shift ;;
        --fifo-reader) fifo_reader=1; shift ;;
        --fcitx-env) fcitx_env+=("$2"); shift 2 ;;
        --preload) preload=$2; shift 2 ;;
        --server) server=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        --expect-log|--expect-no-log|--expect-stub|--expect-no-stub|--expect-watchdog|--expect-nonempty|--expect-server|--expect-no-server|\
        --expect-fcitx-log|--expect-no-fcitx-log)
            checks+=("$1" "$2"); shift 2 ;;
        --expect-file|--expect-content) checks+=("$1" "$2|$3"); shift 3 ;;
        --expect-fifo-signalled) checks+=("$1" ""); shift ;;
        --check) checks+=("$1" "$2"); shift 2 ;;
        --) shift; driver_cmds=("$@"); break ;;
        -h|--help) sed -n '2,63p' "$0"; exit 0 ;;
        *) echo "run_e2e.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
[ -x "$drive" ] || { echo "run_e2e.sh: --driver must name the built driver" >&2; exit 2; }
for tool in fcitx dbus-daemon; do
    command -v "$tool" >/dev/null || { echo "run_e2e.sh: $tool missing (scripts/packages.txt)" >&2; exit 2; }
done

rc=0
work=$(mktemp -d "${TMPDIR:-/tmp}/vetra-e2e.XXXXXX")
# a socket's path holds at most 107 bytes: a deep build folder gets the bus in /tmp
bus_dir=$work
[ ${#work} -gt 80 ] && bus_dir=$(mktemp -d /tmp/vetra-bus.XXXXXX)
pids=()
fcitx_pid=
# exit_and_wait <pid> <bus address, empty: this shell's> <name>: asks that
# fcitx to Exit and waits up to 90 s for it to leave (a full dictionary's
# last save takes a while under the sanitizers: half a minute for one of
# over half a million words).
exit_and_wait() {
    local pid=$1 bus=${2:-${DBUS_SESSION_BUS_ADDRESS:-}} name=$3
    [ -n "$pid" ] || return 0
    if kill -0 "$pid" 2>/dev/null; then
        DBUS_SESSION_BUS_ADDRESS=$bus "$drive" --no-signals --timeout 5000 call org.fcitx.Fcitx-0 \
            /inputmethod org.fcitx.Fcitx.InputMethod Exit >/dev/null 2>&1
        for _ in $(seq 900); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null && { echo "FAIL	$name did not leave on Exit"; rc=1; }
    fi
    wait "$pid" 2>/dev/null
}
stop_fcitx() {
    exit_and_wait "$fcitx_pid" "" fcitx
    fcitx_pid=
}
cleanup() {
    local rc=$?
    [ -n "${beside_pid:-}" ] && kill "$beside_pid" 2>/dev/null
    stop_fcitx
    stop_second
    for ((k=${#pids[@]}-1; k>=0; k--)); do
        kill -TERM "${pids[k]}" 2>/dev/null || continue
        for _ in $(seq 50); do kill -0 "${pids[k]}" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "${pids[k]}" 2>/dev/null
        wait "${pids[k]}" 2>/dev/null
    done
    [ "$bus_dir" != "$work" ] && rm -rf "$bus_dir"
    # Bind mounts a setup made below the work folder go first: rm would
    # remove through them, then fail on the mount points.
    awk -v w="$work/" 'index($5, w) == 1 { print $5 }' /proc/self/mountinfo 2>/dev/null | sort -r |
        while read -r at; do umount "$at"; done
    if [ "$keep" = 1 ]; then echo "run_e2e.sh: kept $work" >&2; else rm -rf "$work"; fi
    exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- HOME with fcitx's profile, the addon in fcitx's user prefix --------------
home=$work/home
cfg=$home/.config/fcitx
mkdir -p "$cfg/addon" "$cfg/lib"
cat > "$cfg/profile" <<PROFILE
[Profile]
IMName=$im
EnabledIMList=fcitx-keyboard-us:True,vetrapinyin:True
PROFILE
cat > "$cfg/config" <<CONFIG
[Output]
CandidateWordNumber=$page_size
[Program]
DelayStart=0
CONFIG
for dir in "${addon_dirs[@]+"${addon_dirs[@]}"}"; do
    cp "$dir"/*.so "$cfg/lib/" && cp "$dir"/*.conf "$cfg/addon/" || exit 2
done
for ((k=0; k<${#home_files[@]}; k+=2)); do
    mkdir -p "$(dirname "$home/${home_files[k]}")"
    cp "${home_files[k+1]}" "$home/${home_files[k]}" || exit 2
done
for ((k=0; k<${#home_makes[@]}; k+=2)); do
    at="$home/${home_makes[k]}"
    mkdir -p "$(dirname "$at")"
    case "${home_makes[k+1]}" in
        fifo) mkfifo "$at" ;;
        dir) mkdir "$at" ;;
        link:*) ln -s "${home_makes[k+1]#link:}" "$at" ;;
        *) false ;;
    esac || exit 2
done
for cmd in "${setups[@]+"${setups[@]}"}"; do
    $cmd "$home"
    case $? in
        0) ;;
        77) echo "run_e2e.sh: setup $cmd: run skipped" >&2; exit 77 ;;
        *) echo "run_e2e.sh: setup $cmd failed" >&2; exit 2 ;;
    esac
done
fcitx_env=("${fcitx_env[@]//@HOME@/$home}")
# Only the keyboard and this input method (installed, for the package's
# check, or from the addon folder): fcitx enables any other one installed
# that the profile does not name, and falls back to it, not to the
# keyboard, when this one is not loaded.
disable=fcitx-xim,fcitx-x11,fcitx-xkb,fcitx-vk
fcitx_prefix=$(dirname "$(dirname "$(command -v fcitx)")")
for conf in "$fcitx_prefix"/share/fcitx/addon/*.conf /usr/share/fcitx/addon/*.conf; do
    [ -f "$conf" ] || continue
    name=$(awk -F= '$1 == "Name" { name = $2 } $1 == "Category" { cat = $2 }
                    END { if (cat == "InputMethod" && name != "fcitx-keyboard" &&
                              name != "fcitx-vetrapinyin") print name }' "$conf")
    [ -n "$name" ] && [[ ",$disable," != *",$name,"* ]] && disable+=",$name"
done
path=$PATH
if [ "$watchdog" = 1 ]; then
    mkdir -p "$work/bin"
    printf '#!/bin/sh\necho started >> "%s"\n' "$work/watchdog.starts" > "$work/bin/vetra-imepanel-watchdog"
    chmod +x "$work/bin/vetra-imepanel-watchdog"
    path=$work/bin:$PATH
fi

# ---- a private session bus without service activation ---------------------------
# start_bus NAME: a bus listening in $bus_dir/NAME, its address in $work/NAME.address.
start_bus() {
    mkdir -p "$bus_dir/$1"
    sed "s|<listen>unix:dir=$bus_dir</listen>|<listen>unix:dir=$bus_dir/$1</listen>|" \
        "$work/bus.conf" > "$work/$1.conf"
    dbus-daemon --config-file="$work/$1.conf" --nofork --print-address=3 3>"$work/$1.address" \
        >>"$work/dbus.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$work/$1.address" ] && break; sleep 0.05; done
    [ -s "$work/$1.address" ] || { echo "run_e2e.sh: dbus-daemon $1 did not start" >&2; exit 1; }
}
cat > "$work/bus.conf" <<BUS
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$bus_dir</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
BUS
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=3 3>"$work/bus.address" \
    >"$work/dbus.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/bus.address" ] && break; sleep 0.05; done
[ -s "$work/bus.address" ] || { echo "run_e2e.sh: dbus-daemon did not start" >&2; exit 1; }
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus.address")
unset DISPLAY

# ---- the stub owns its names before fcitx looks for them --------------------------
# start_stub LOG: the stub on the current bus, logging to LOG.
start_stub() {
    [ ${#owns[@]} -gt 0 ] || return 0
    local stub_args=(--no-signals)
    [ "$hang" = 1 ] && stub_args+=(--hang)
    for name in "${owns[@]}"; do
        case $name in
            panel) name=com.fcitx_imepanel.hotel_0 ;;
            watchdog) name=com.fcitx_imepanel_watchdog.hotel_0 ;;
        esac
        stub_args+=(--own "$name")
    done
    "$drive" "${stub_args[@]}" hold 0 >"$1" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        [ "$(grep -c '^OWNED' "$1")" -ge ${#owns[@]} ] && break
        sleep 0.05
    done
}
start_stub "$work/stub.log"
touch "$work/stub.log"

if [ -n "$server" ]; then
    # shellcheck disable=SC2086 # the words of one argument
    $server >"$work/server.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 200); do grep -q '^READY' "$work/server.log" && break; sleep 0.05; done
    grep -q '^READY' "$work/server.log" || { echo "run_e2e.sh: the server did not start" >&2; cat "$work/server.log" >&2; exit 1; }
    while IFS= read -r line; do
        case $line in ENV$'\t'*) fcitx_env+=("${line#ENV$'\t'}") ;; esac
    done < "$work/server.log"
fi
touch "$work/server.log"

if [ "$fifo_reader" = 1 ]; then
    mkfifo -m 600 "$work/sync.fifo"
    fcitx_env+=("VETRA_SYNC_FIFO=$work/sync.fifo")
    # the reader's open returns once fcitx opens the FIFO for writing
    ( timeout 60 cat "$work/sync.fifo" >/dev/null && echo released > "$work/fifo.released" ) &
    pids+=($!)
fi

# ---- fcitx ---------------------------------------------------------------------------
# launch_fcitx LOG: fcitx on the current bus, its pid in launched.
launch_fcitx() {
    local env_pre=()
    [ -n "$preload" ] && env_pre=(LD_PRELOAD="$preload"
        ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)
    env HOME="$home" XDG_CONFIG_HOME="$home/.config" LANG=C.UTF-8 LC_ALL=C.UTF-8 PATH="$path" \
        FCITX_NO_PRIVATE_DBUS=1 "${env_pre[@]+"${env_pre[@]}"}" "${fcitx_env[@]+"${fcitx_env[@]}"}" \
        fcitx -D -s 0 --disable "$disable" >>"$1" 2>&1 &
    launched=$!
}
start_fcitx() {
    launch_fcitx "$work/fcitx.log"
    fcitx_pid=$launched
}

# The second fcitx of the same HOME, on a bus and with a stub of its own.
second_pid= second_bus=
start_second() {
    [ -n "$second_pid" ] && return 0
    if [ -z "$second_bus" ]; then
        start_bus second
        second_bus=$(head -n1 "$work/second.address")
        DBUS_SESSION_BUS_ADDRESS=$second_bus start_stub "$work/stub2.log"
    fi
    DBUS_SESSION_BUS_ADDRESS=$second_bus launch_fcitx "$work/fcitx2.log"
    second_pid=$launched
}
stop_second() {
    exit_and_wait "$second_pid" "$second_bus" "second fcitx"
    second_pid=
}

phase=()
beside_pid=
# wait_beside: the phase run beside the others ends; its output joins the driver's.
wait_beside() {
    [ -n "$beside_pid" ] || return 0
    wait "$beside_pid" || rc=1
    beside_pid=
    cat "$work/beside.log" >>"$work/drive.log"
}
# run_phase END-MARKER TARGET: the phase's commands on fcitx TARGET (first,
# second, or beside: on the second, in the background); the first stops at
# the end of its phase, the second only on a "--restart".
run_phase() {
    if [ "$2" = beside ]; then
        wait_beside
        start_second
        : >"$work/beside.log"
        DBUS_SESSION_BUS_ADDRESS=$second_bus timeout 120 "$drive" "${phase[@]}" >"$work/beside.log" 2>&1 &
        beside_pid=$!
        for _ in $(seq 1200); do
            grep -q '^NOTE' "$work/beside.log" && break
            kill -0 "$beside_pid" 2>/dev/null || break
            sleep 0.05
        done
        return
    fi
    if [ "$2" = second ]; then
        start_second
        DBUS_SESSION_BUS_ADDRESS=$second_bus timeout 120 "$drive" "${phase[@]}" >>"$work/drive.log" 2>&1 || rc=1
        case $1 in --restart|--kill-restart|--term-restart) stop_second >>"$work/drive.log" ;; esac
        return
    fi
    start_fcitx
    timeout 120 "$drive" "${phase[@]}" >>"$work/drive.log" 2>&1 || rc=1
    if [ "$1" = --kill-restart ]; then
        kill -KILL "$fcitx_pid" 2>/dev/null
        wait "$fcitx_pid" 2>/dev/null
        fcitx_pid=
    elif [ "$1" = --term-restart ]; then
        kill -TERM "$fcitx_pid" 2>/dev/null
        for _ in $(seq 300); do
            kill -0 "$fcitx_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$fcitx_pid" 2>/dev/null && { echo "FAIL	fcitx did not leave on SIGTERM" >>"$work/drive.log"; rc=1; }
        wait "$fcitx_pid" 2>/dev/null
        fcitx_pid=
    fi
    stop_fcitx >>"$work/drive.log"
}
target=first
for arg in "${driver_cmds[@]+"${driver_cmds[@]}"}" --restart; do
    case $arg in
        --restart|--kill-restart|--term-restart|--on-second|--kill-on-second|--on-first|--beside-second)
            end=$arg
            [ "$arg" = --kill-on-second ] && end=--kill-restart
            [ ${#phase[@]} -gt 0 ] && run_phase "$end" "$target"
            phase=()
            target=first
            case $arg in --on-second|--kill-on-second) target=second ;; --beside-second) target=beside ;; esac ;;
        *) phase+=("${arg//@HOME@/$home}") ;;
    esac
done
wait_beside
stop_second >>"$work/drive.log"
# the fifo reader needs a moment to note its release
[ "$fifo_reader" = 1 ] && for _ in $(seq 20); do [ -e "$work/fifo.released" ] && break; sleep 0.05; done

# ---- checks ------------------------------------------------------------------------
report() {   # report OK|FAIL text
    echo "$1	$2" >>"$work/drive.log"
    [ "$1" = OK ] || rc=1
}
for ((k=0; k<${#checks[@]}; k+=2)); do
    what=${checks[k]} arg=${checks[k+1]}
    case $what in
        --expect-log) grep -qE -- "$arg" "$work/drive.log" && report OK "log /$arg/" || report FAIL "log /$arg/" ;;
        --expect-no-log) grep -qE -- "$arg" "$work/drive.log" && report FAIL "log has /$arg/" || report OK "log lacks /$arg/" ;;
        --expect-stub) grep -qE -- "$arg" "$work/stub.log" && report OK "stub /$arg/" || report FAIL "stub /$arg/" ;;
        --expect-no-stub) grep -qE -- "$arg" "$work/stub.log" && report FAIL "stub has /$arg/" || report OK "stub lacks /$arg/" ;;
        --expect-server) grep -qE -- "$arg" "$work/server.log" && report OK "server /$arg/" || report FAIL "server /$arg/" ;;
        --expect-no-server)
            grep -qE -- "$arg" "$work/server.log" && report FAIL "server has /$arg/" || report OK "server lacks /$arg/" ;;
        --expect-fcitx-log)
            grep -qE -- "$arg" "$work/fcitx.log" && report OK "fcitx log /$arg/" || report FAIL "fcitx log /$arg/" ;;
        --expect-no-fcitx-log)
            grep -qE -- "$arg" "$work/fcitx.log" && report FAIL "fcitx log has /$arg/" || report OK "fcitx log lacks /$arg/" ;;
        --expect-file)
            rel=${arg%%|*} src=${arg#*|}
            cmp -s "$home/$rel" "$src" && report OK "file $rel" || report FAIL "file $rel differs from $src" ;;
        --expect-nonempty) [ -s "$home/$arg" ] && report OK "file $arg" || report FAIL "file $arg missing or empty" ;;
        --expect-content)
            rel=${arg%%|*} ere=${arg#*|}
            [ -f "$home/$rel" ] && grep -qzE -- "^$ere\$" "$home/$rel" && report OK "file $rel matches /$ere/" ||
                report FAIL "file $rel does not match /$ere/" ;;
        --expect-watchdog)
            n=$(cat "$work/watchdog.starts" 2>/dev/null | wc -l)
            [ "$n" = "$arg" ] && report OK "watchdog started $n" || report FAIL "watchdog started $n, not $arg" ;;
        --expect-fifo-signalled)
            [ -e "$work/fifo.released" ] && report OK "fifo signalled" || report FAIL "fifo reader still waiting" ;;
        --check) $arg "$work/drive.log" "$home" >>"$work/drive.log" 2>&1 && report OK "check $arg" || report FAIL "check $arg" ;;
    esac
done
if [ -n "$preload" ] && grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$work/fcitx.log"; then
    report FAIL "sanitizer report in fcitx's log"
fi
cat "$work/drive.log"
grep '^CALL' "$work/stub.log" | sed 's/^/stub: /'
grep -E '^(REQUEST|ANSWER)' "$work/server.log" | sed 's/^/server: /'
if [ "$rc" != 0 ]; then
    echo "---- fcitx log ----"
    grep -v 'Load Addon Config File' "$work/fcitx.log"
    if [ -e "$work/fcitx2.log" ]; then
        echo "---- second fcitx log ----"
        grep -v 'Load Addon Config File' "$work/fcitx2.log"
    fi
fi
exit "$rc"
