#!/bin/sh
# run_fuzz.sh FUZZER SECONDS [SEED...]: fuzzes for SECONDS from a fresh corpus made of the seeds
# (files, directories, *.tsv files whose lines become one input each, or *.md transcript tables whose
# rows' answers become one input each, see md_seeds.sh). A seed that is absent is reported and
# skipped.
set -eu
fuzzer=$1 seconds=$2
shift 2
corpus=$(mktemp -d /tmp/sdkbsp-fuzz-XXXXXX)
trap 'rm -rf "$corpus"' EXIT
for seed in "$@"; do
    if [ -d "$seed" ]; then
        # named by content: same-named files of different folders all stay
        find "$seed" -type f | while IFS= read -r f; do cp "$f" "$corpus/$(cksum < "$f" | tr ' ' '-')"; done
    elif [ -f "$seed" ]; then
        case $seed in
        *.tsv) split -l 1 "$seed" "$corpus/$(basename "$seed")." ;;
        *.md) "$(dirname "$0")/md_seeds.sh" "$seed" "$corpus" ;;
        *) cp "$seed" "$corpus/" ;;
        esac
    else
        echo "seed $seed is absent: not used"
    fi
done
echo "corpus: $(ls "$corpus" | wc -l) seeds"
"$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 "$corpus"
