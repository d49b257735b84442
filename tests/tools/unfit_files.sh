#!/bin/sh
# Every command that takes a settings FILE, handed a pipe, a device, a link to
# one or a file past the 16 MB the program reads: each must stop at once with
# the reason and status 2 (a read of a FIFO would block, of /dev/zero run on
# forever), and the large file stays as it was.
# Usage: unfit_files.sh TOOL WORKDIR
set -u
tool=$1
work=$2
rm -rf "$work" && mkdir -p "$work" || exit 1
mkfifo "$work/fifo.ini" || exit 1
ln -s /dev/zero "$work/zero-link.ini"
printf '[GENERAL]\nCOM = 3\n' > "$work/big.ini"
truncate -s 17M "$work/big.ini"
failed=0
for case in "$work/fifo.ini|is not a regular file" "/dev/zero|is not a regular file" \
            "$work/zero-link.ini|is not a regular file" "$work/big.ini|is larger than 16 MB"; do
    file=${case%%|*}
    reason=${case#*|}
    for call in "read|GENERAL|COM" "write|GENERAL|COM|4" "sections" "general" "keytable|T" \
                "show|T" "check" "preview|x"; do
        command=${call%%|*}
        rest=$(printf '%s' "$call" | cut -s -d'|' -f2- | tr '|' ' ')
        # shellcheck disable=SC2086
        timeout 10 "$tool" "$command" "$file" $rest > "$work/out" 2> "$work/err"
        status=$?
        if [ "$status" -ne 2 ] || ! grep -q "$reason" "$work/err"; then
            echo "FAIL: $command $file: status $status, $(head -c 200 "$work/err")"
            failed=$((failed + 1))
        fi
    done
done
[ "$(stat -c %s "$work/big.ini")" -eq $((17 * 1024 * 1024)) ] || { echo "FAIL: big.ini changed"; failed=$((failed + 1)); }
echo "$failed of 32 calls wrong"
rm -rf "$work"
[ "$failed" -eq 0 ]
