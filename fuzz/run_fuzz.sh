#!/bin/sh
# run_fuzz.sh FUZZER SECONDS [SEED...]: fuzzes for SECONDS from the inputs kept in the project
# (fuzz/corpus/NAME for NAME_fuzz) and the seeds (files, directories, *.tsv files whose lines become
# one input each, or *.md transcript tables whose rows' answers become one input each, see
# md_seeds.sh). A seed that is absent is reported and skipped.
#
# run_fuzz.sh --keep FUZZER RUNS [SEED...]: a long run by hand of RUNS executions from the same
# start; afterwards the run's inputs are minimised (-merge=1 into an empty directory) and, less
# those equal to a seed (the runs read the seeds from where they are), replace the kept inputs.
set -eu
keep=false
if [ "$1" = --keep ]; then keep=true; shift; fi
fuzzer=$1 amount=$2
shift 2
kept="$(cd "$(dirname "$0")" && pwd)/corpus/$(basename "$fuzzer" _fuzz)"
work=$(mktemp -d /tmp/sdkbsp-fuzz-XXXXXX)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
mkdir "$work/seeds" "$work/corpus" "$work/merged"
# Inputs are named by content (cksum), so same-named files of different folders all stay.
by_content() { while IFS= read -r f; do cp "$f" "$1/$(cksum < "$f" | tr ' ' '-')"; done; }
for seed in "$@"; do
    if [ -d "$seed" ]; then
        find "$seed" -type f | by_content "$work/seeds"
    elif [ -f "$seed" ]; then
        case $seed in
        *.tsv) split -l 1 "$seed" "$work/seeds/$(basename "$seed")." ;;
        *.md) "$(dirname "$0")/md_seeds.sh" "$seed" "$work/seeds" ;;
        *) cp "$seed" "$work/seeds/" ;;
        esac
    else
        echo "seed $seed is absent: not used"
    fi
done
cp -R "$work/seeds/." "$work/corpus/"
if [ -d "$kept" ]; then cp -R "$kept/." "$work/corpus/"; fi
echo "corpus: $(ls "$work/seeds" | wc -l) seeds, $(ls "$kept" 2>/dev/null | wc -l) kept inputs"
if ! $keep; then
    "$fuzzer" -max_total_time="$amount" -rss_limit_mb=2048 -print_final_stats=1 "$work/corpus"
    exit
fi

# Inputs longer than the targets take (the largest reads 16 KiB) only slow the run down.
start=$(date +%s) status=0
"$fuzzer" -runs="$amount" -max_len=16384 -rss_limit_mb=2048 -print_final_stats=1 "$work/corpus" >"$work/log" 2>&1 ||
    status=$?
grep -Ev '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)|^"|recommended dictionary' "$work/log" | tail -n 40
echo "run: $(($(date +%s) - start)) s"
[ "$status" -eq 0 ] || exit "$status"
"$fuzzer" -merge=1 "$work/merged" "$work/corpus" 2>&1 | grep -E 'MERGE-OUTER: [0-9]+ new'
( cd "$work/seeds" && ls | while IFS= read -r s; do cksum < "$s"; done ) | sort >"$work/seed-sums"
rm -rf "$kept" && mkdir -p "$kept"
for f in "$work/merged"/*; do
    [ -f "$f" ] || continue
    grep -qxF "$(cksum < "$f")" "$work/seed-sums" || cp "$f" "$kept/"
done
echo "kept: $(ls "$kept" | wc -l) inputs, $(cat "$kept"/* /dev/null | wc -c) bytes in $kept"
