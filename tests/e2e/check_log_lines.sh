#!/bin/sh
# check_log_lines.sh TEXT COUNT [LOG] DRIVE-LOG HOME: fcitx's log (of every
# phase of the first fcitx; LOG fcitx2.log: of the second) has exactly COUNT
# lines holding TEXT.
name=fcitx.log
[ $# = 5 ] && name=$3
eval "drive=\${$(($# - 1))}"
log=$(dirname "$drive")/$name
found=$(grep -cF -- "$1" "$log")
[ "$found" = "$2" ] || { echo "$found lines of fcitx's log hold $1, not $2:"; grep -F -- "$1" "$log"; exit 1; }
