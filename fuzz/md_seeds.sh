#!/bin/sh
# md_seeds.sh TABLE.md DIR: one seed file per table row of a transcript file (as
# ../shared/testdata/modem/transcripts.md): the row's answer column (the 5th field between '|'),
# its `quoted` pieces joined, <CR> and <LF> turned into the bytes they stand for. Rows given line by
# line (no <CR> or <LF> in them) get CR LF around each piece, as modules frame their lines.
set -eu
table=$1 dir=$2
awk -F'|' -v dir="$dir" '
/^\| *[0-9]+ *\|/ {
    answer = $5
    bytes = answer ~ /<CR>|<LF>/
    out = ""
    while (match(answer, /`[^`]*`/)) {
        piece = substr(answer, RSTART + 1, RLENGTH - 2)
        answer = substr(answer, RSTART + RLENGTH)
        gsub(/<CR>/, "\r", piece)
        gsub(/<LF>/, "\n", piece)
        out = out (bytes ? piece : "\r\n" piece "\r\n")
    }
    if (out != "") { file = dir "/transcript-row" $2; gsub(/ /, "", file); printf "%s", out > file; close(file) }
}' "$table"
