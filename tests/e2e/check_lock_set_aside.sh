#!/bin/sh
# check_lock_set_aside.sh LOCK DRIVE-LOG HOME: every numbered set-aside name
# of $HOME/LOCK still holds what it held (a link, folders each with a file
# "kept"), LOCK is a lock file again, and what stood there went to one name
# of its own, "LOCK.aside.<12 hex digits>".
lock=$3/$1
[ -L "$lock.aside" ] || { echo "$lock.aside: the link is gone"; exit 1; }
for n in 2 3 4 5 6 7 8 9; do
    [ -f "$lock.aside.$n/kept" ] || { echo "$lock.aside.$n/kept: removed"; exit 1; }
done
[ -f "$lock" ] && [ ! -L "$lock" ] || { echo "$lock: no lock file"; exit 1; }
set -- "$lock".aside.????????????
[ "$#" = 1 ] && [ -p "$1" ] || { echo "expected one FIFO set aside under a new name, found: $*"; exit 1; }
