#!/bin/sh
# The library's rooms depend one way: a file includes headers of its own room and of rooms below it
# only. Each line: a rank and the rooms of that rank (rooms of one rank include none of each other).
# Usage: rooms.sh SRC_DIR
set -eu
src=$1
ranks='8 abi
7 sdk
6 lte
5 gps io
4 com uci
3 base
2 os'
rank_of() { printf '%s\n' "$ranks" | awk -v r="$1" '{ for (i = 2; i <= NF; ++i) if ($i == r) print $1 }'; }
status=0
for file in "$src"/*/*; do
    room=$(basename "$(dirname "$file")")
    mine=$(rank_of "$room")
    [ -n "$mine" ] || { echo "$file: room $room has no rank"; status=1; continue; }
    for used in $(sed -n 's|^#include "\([a-z_]*\)/.*|\1|p' "$file" | sort -u); do
        theirs=$(rank_of "$used")
        if [ -z "$theirs" ]; then echo "$file: includes an unknown room $used"; status=1
        elif [ "$used" != "$room" ] && [ "$theirs" -ge "$mine" ]; then echo "$file: $room includes $used, which is not below it"; status=1
        fi
    done
done
[ $status -eq 0 ] && echo "every room includes only itself and rooms below it"
exit $status
