#!/bin/sh
# copy_system_data.sh DATA REL [FILE cut|zeroed] HOME: a copy of the system
# data folder DATA as $HOME/REL (a copy, so that nothing a run does there
# reaches DATA), with FILE cut to half its size or its first 16 bytes zeroed.
data=$1 rel=$2
[ $# = 5 ] && file=$3 how=$4 home=$5 || home=$3
to=$home/$rel
mkdir -p "$(dirname "$to")" && cp -r "$data" "$to" || exit 1
[ -n "${file:-}" ] || exit 0
size=$(wc -c <"$to/$file")
case $how in
    cut) head -c $((size / 2)) "$data/$file" >"$to/$file" ;;
    zeroed) head -c 16 /dev/zero | dd of="$to/$file" conv=notrunc status=none ;;
    *) exit 1 ;;
esac
