#!/bin/sh
# check, show and generate on inputs several times larger than the address
# space they are allowed: each must stream its input and its report rather
# than hold them, and still give the whole report.
# Usage: bounded_memory.sh TOOL INPUTS_SCRIPT WORKDIR
set -u
tool=$1
inputs=$2
work=$3
rm -rf "$work" && mkdir -p "$work" || exit 1
# 15 MB: within the 16 MB the program reads of a settings file at all.
bash "$inputs" "$work" 15 || exit 1
limit=49152  # kilobytes
failed=0
# run NAME STATUS ARGS...: the tool under the limit, with the status it must give.
run() {
    name=$1
    want=$2
    shift 2
    (ulimit -v "$limit" && exec "$tool" "$@") > "$work/$name.out" 2> "$work/$name.err"
    got=$?
    if [ "$got" -ne "$want" ]; then
        echo "$name: status $got, not $want"
        head -c 300 "$work/$name.err"
        failed=1
    fi
}
run check 1 check "$work/table.ini"
last=$(wc -l < "$work/table.ini")
tail -n 1 "$work/check.out" | grep -qx "line $last: \[US\] line without \"=\": \"the last line\"" ||
    { echo "check: the report does not end with the file's last line"; failed=1; }
# Every finding once, each kind in the file's order: a bracketed line is
# both listed and a line without "=", and seven findings are the table's own.
bracketed=$(grep -c '^see \[' "$work/table.ini")
junk=$(grep -c '^junk' "$work/table.ini")
[ "$(wc -l < "$work/check.out")" -eq $((2 * bracketed + junk + 7)) ] ||
    { echo "check: findings lost or repeated"; failed=1; }
awk -F'[ :]' '/takes it for a section|more than ten sections|without "="/ {
        kind = /without/; if ($2 + 0 <= at[kind]) bad = 1; at[kind] = $2 + 0 }
    END { exit bad }' "$work/check.out" || { echo "check: findings out of order"; failed=1; }
run show 0 show "$work/table.ini" US
[ "$(wc -l < "$work/show.out")" -eq 256 ] || { echo "show: not one line a byte"; failed=1; }
run generate 0 generate US "$work/list.txt"
[ "$(wc -l < "$work/generate.out")" -eq 259 ] || { echo "generate: not a whole table"; failed=1; }
rm -f "$work"/*.out "$work"/*.ini "$work"/*.txt
[ "$failed" -eq 0 ] && echo "check, show and generate within $limit KB"
