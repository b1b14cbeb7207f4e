#!/bin/sh
# foreign_files.sh REL... HOME: each $HOME/REL a file of 64 zero bytes owned
# by uid 12345, mode 0600, as a program run as root with the user's HOME
# leaves one of its own. Only root can give a file away: anyone else skips
# the run (77).
eval "home=\${$#}"
[ "$(id -u)" = 0 ] || { echo "foreign_files.sh: not root, no file of another user can be made"; exit 77; }
while [ $# -gt 1 ]; do
    mkdir -p "$(dirname "$home/$1")" && head -c 64 /dev/zero >"$home/$1" &&
        chmod 600 "$home/$1" && chown 12345:12345 "$home/$1" || exit 1
    shift
done
