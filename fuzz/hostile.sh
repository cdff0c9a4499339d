#!/usr/bin/env bash
# Runs the real program over huge and hostile contacts files, each made afresh in a temporary
# folder, and prints for each the peak memory (/usr/bin/time -v), the time, the exit status and
# the summary line. Memory should follow the largest line and the largest card, not the file.
# Takes a few minutes and about 1 GB of disk: not part of CI.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/setup.sh"

install_missing time
build "$root/build/release" -DBUILD_TESTING=OFF >/dev/null
binary=$root/build/release/vcardsplit
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# LINES lines of TEXT and a line feed after each.
repeat() { (yes "$1" || true) | head -n "$2"; }

# Each generator writes one contacts file to standard output.
one_line_100mb() { head -c 100000000 /dev/zero | tr '\0' A; }
card_50mb() {
    printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Duże Zdjęcie\r\nPHOTO;ENCODING=b;TYPE=JPEG:\r\n'
    head -c 37000000 /dev/urandom | base64 -w 74 | sed 's/^/ /; s/$/\r/'
    printf 'END:VCARD\r\n'
}
empty_cards_1m() { repeat $'BEGIN:VCARD\r\nEND:VCARD\r' 2000000; }
same_name_100k() { repeat $'BEGIN:VCARD\r\nFN:Anna Nowak\r\nEND:VCARD\r' 300000; }
# Every file name is kept for the run, to keep names unique: this one shows what that costs.
distinct_names_200k() {
    awk 'BEGIN { name = ""; for (i = 0; i < 190; i++) name = name "a";
                 for (i = 0; i < 200000; i++) printf "BEGIN:VCARD\r\nFN:%s%d\r\nEND:VCARD\r\n", name, i }'
}
# Long names that differ only past the 200-byte cut, each twice: their numbered names coincide.
cut_alike_names_100k() {
    awk 'BEGIN { name = ""; for (i = 0; i < 196; i++) name = name "a";
                 for (r = 0; r < 2; r++) for (i = 0; i < 50000; i++)
                     printf "BEGIN:VCARD\r\nFN:%s%06d\r\nEND:VCARD\r\n", name, i }'
}
names_10k_chars() {
    awk 'BEGIN { name = ""; for (i = 0; i < 10000; i++) name = name "ż";
                 for (i = 0; i < 1000; i++) printf "BEGIN:VCARD\r\nFN:%s%d\r\nEND:VCARD\r\n", name, i }'
}
dots_spaces_slashes() {
    for name in '.' '..' '...........' ' ' '          ' '/' '//////////' '../..' '/ . /'; do
        for _ in 1 2 3; do printf 'BEGIN:VCARD\r\nFN:%s\r\nEND:VCARD\r\n' "$name"; done
    done
}
begin_markers_1m() {
    repeat 'BEGIN:VCARD' 1000000
    printf 'FN:Anna\r\nEND:VCARD\r\n'
}

printf '%-22s %10s %12s %9s %9s %6s  %s\n' input bytes "peak RSS kB" seconds "user s" status summary
for input in one_line_100mb card_50mb empty_cards_1m same_name_100k distinct_names_200k \
    cut_alike_names_100k names_10k_chars dots_spaces_slashes begin_markers_1m; do
    dir=$work/$input
    mkdir -p "$dir"
    "$input" >"$dir/kontakty.vcf"
    status=0
    (cd "$dir" && echo kontakty.vcf | /usr/bin/time -v -o "$dir/time.txt" "$binary" \
        >"$dir/console.txt") || status=$?
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$dir/time.txt")
    seconds=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$dir/time.txt")
    cpu=$(sed -n 's/.*User time (seconds): //p' "$dir/time.txt")
    summary=$(grep -ao 'Zapisano kart.*' "$dir/console.txt" || echo '(no summary)')
    printf '%-22s %10s %12s %9s %9s %6s  %s\n' "$input" "$(stat -c %s "$dir/kontakty.vcf")" \
        "$rss" "$seconds" "$cpu" "$status" "$summary"
    rm -rf "$dir"
done
