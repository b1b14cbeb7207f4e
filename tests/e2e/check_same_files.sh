#!/bin/sh
# check_same_files.sh DATA REL DRIVE-LOG HOME: $HOME/REL holds exactly the
# files of DATA, nothing moved away, changed or added.
diff -r "$1" "$4/$2" || { echo "$4/$2 differs from $1"; exit 1; }
