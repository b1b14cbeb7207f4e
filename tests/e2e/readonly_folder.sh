#!/bin/sh
# readonly_folder.sh REL HOME: $HOME/REL (made when missing) mounted over
# itself read-only, a folder nothing can be written in, whoever runs. Only in
# a mount namespace of the run's own; run_e2e.sh unmounts it at its end.
dir=$2/$1
mkdir -p "$dir" && mount --bind "$dir" "$dir" && mount -o remount,bind,ro "$dir"
