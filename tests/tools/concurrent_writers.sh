#!/bin/sh
# Twenty quorvel-ini processes write one key each into one settings file at
# the same moment: every one of the twenty changes must be there afterwards.
# Usage: concurrent_writers.sh TOOL WORKDIR
set -u
tool=$1
work=$2
rm -rf "$work" && mkdir -p "$work" || exit 1
file=$work/QuorvelCE.INI
{
    printf '[GENERAL]\n'
    for i in $(seq -w 0 19); do printf 'W%s = old\n' "$i"; done
} > "$file"
# Each writer waits for the go file, so that all start together.
for i in $(seq -w 0 19); do
    (while [ ! -e "$work/go" ]; do :; done; "$tool" write "$file" GENERAL "W$i" "new$i") &
done
touch "$work/go"
wait
lost=0
for i in $(seq -w 0 19); do
    grep -qx "W$i = new$i" "$file" || lost=$((lost + 1))
done
echo "lost $lost of 20"
leftovers=$(find "$work" -name '*.tmp' | wc -l)
[ "$lost" -eq 0 ] && [ "$leftovers" -eq 0 ]
