#!/bin/sh
# check_env_set_aside.sh DAMAGED DRIVE-LOG HOME: the damaged env.ini was moved
# into Backup once (the same bytes) and a good UTF-16LE file stands in its place.
damaged=$1 home=$3
dir="$home/.config/VetraPY"
set -- "$dir"/Backup/env_*.ini
[ "$#" = 1 ] && [ -f "$1" ] || { echo "expected one set-aside env.ini, found: $*"; exit 1; }
cmp -s "$damaged" "$1" || { echo "the set-aside copy differs from the damaged file"; exit 1; }
[ "$(head -c 4 "$dir/env.ini" | od -An -tx1 | tr -d ' \n')" = "fffe5b00" ] ||
    { echo "env.ini is not a good settings file"; exit 1; }
