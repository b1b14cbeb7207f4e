#!/bin/sh
# check_log_lines.sh TEXT COUNT DRIVE-LOG HOME: fcitx's log (of every phase
# of the first fcitx) has exactly COUNT lines holding TEXT.
log=$(dirname "$4")/fcitx.log
found=$(grep -cF -- "$1" "$log")
[ "$found" = "$2" ] || { echo "$found lines of fcitx's log hold $1, not $2:"; grep -F -- "$1" "$log"; exit 1; }
