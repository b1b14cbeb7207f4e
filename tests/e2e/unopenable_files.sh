#!/bin/sh
# unopenable_files.sh REL... HOME: each $HOME/REL a file of the user holding
# 64 zero bytes that nobody may open (mode 000), as a user's chmod leaves one.
eval "home=\${$#}"
while [ $# -gt 1 ]; do
    mkdir -p "$(dirname "$home/$1")" && head -c 64 /dev/zero >"$home/$1" && chmod 000 "$home/$1" || exit 1
    shift
done
