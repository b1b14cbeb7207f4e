#!/bin/sh
# bind_folder.sh FROM TO HOME: $HOME/FROM shown again at $HOME/TO (made when
# missing) by a bind mount, a second name no link resolution joins. Only in
# a mount namespace of the run's own; run_e2e.sh unmounts it at its end.
from=$3/$1 to=$3/$2
mkdir -p "$to" && mount --bind "$from" "$to"
