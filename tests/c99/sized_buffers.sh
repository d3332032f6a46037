#!/bin/sh
# sized_buffers.sh CC INCLUDE_DIR SOURCE: each call of SOURCE given a buffer one byte short of
# the size its prototype declares ([static N]) draws the compiler's warning; given N bytes, none.
set -eu
cc=$1 include=$2 source=$3
calls=$(grep -c '^    n += ' "$source")
warned=$(LC_ALL=C "$cc" -std=c99 -Wall -DSHORT -I"$include" -c "$source" -o /dev/null 2>&1 |
         sed -n "s/.*warning: '\([A-Za-z_0-9]*\)' accessing.*/\1/p" | sort -u | wc -l)
if [ "$warned" -ne "$calls" ]; then
    echo "$warned of $calls calls warned of a buffer one byte short"
    exit 1
fi
"$cc" -std=c99 -pedantic -Wall -Wextra -Werror -I"$include" -c "$source" -o /dev/null
echo "each of $calls calls warns of a buffer one byte short, none of one of its size"
