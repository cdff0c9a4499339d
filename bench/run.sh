#!/usr/bin/env bash
# Times vcardsplit against the floor (floorsplit.c: open, write, close and nothing else) and the
# awk splitter people post (split.awk), on generated corpora, and prints a Markdown table.
#
#   bench/run.sh [--sizes 10k,100k,1M] [--corpora default,plain] [--runs N] [--awk mawk|gawk]
#   bench/run.sh --smoke
#
# Every contender runs in a fresh empty directory, with the contacts file's name on standard
# input and standard output to /dev/null. The contenders take turns: each round is one hyperfine
# call that runs each of them once, in an order that rotates from round to round, so a slow spell
# on this shared machine falls on all of them; the median is over the rounds. Peak RSS and the
# files written come from one more run of each under /usr/bin/time -v. "CPU s" is the median of
# user plus system time: less disturbed than the wall clock when others share the machine.
#
# --smoke runs a tiny corpus through every contender once, untimed, and checks that each writes
# the files it should; the tests run it.
#
# Options for the tests: --vcardsplit PATH and --tools DIR (where vcardgen and floorsplit are)
# use programs built elsewhere instead of building a release build here; --work DIR is where
# the builds, the corpora (kept between runs) and the working directories go.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/setup.sh"
bench="$root/bench"

sizes=10k,100k,1M
corpora=default,plain
runs=5
awk=mawk
smoke=false
vcardsplit=
tools=
work="$root/build/bench"

usage() {
    sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'
    exit "$1"
}

while (($#)); do
    case $1 in
    --sizes) sizes=$2; shift ;;
    --corpora) corpora=$2; shift ;;
    --runs) runs=$2; shift ;;
    --awk) awk=$2; shift ;;
    --smoke) smoke=true ;;
    --vcardsplit) vcardsplit=$2; shift ;;
    --tools) tools=$2; shift ;;
    --work) work=$2; shift ;;
    -h | --help) usage 0 ;;
    *) usage 2 >&2 ;;
    esac
    shift
done

cards() {
    case $1 in
    *[kK]) echo $((${1%[kK]} * 1000)) ;;
    *M) echo $((${1%M} * 1000000)) ;;
    *[!0-9]* | '') echo "Not a card count: $1" >&2; exit 2 ;;
    *) echo "$1" ;;
    esac
}

if $smoke; then
    install_missing "$awk"
else
    install_missing "$awk" hyperfine time
fi
mkdir -p "$work"
work=$(cd "$work" && pwd)

if [ -z "$vcardsplit" ] || [ -z "$tools" ]; then
    echo "Building a release build in $work/release..." >&2
    log="$work/build.log"
    if ! build "$work/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DVCARDSPLIT_BENCH=ON >"$log" 2>&1; then
        cat "$log" >&2
        exit 1
    fi
    vcardsplit=${vcardsplit:-$work/release/vcardsplit}
    tools=${tools:-$work/release/bench}
fi
vcardsplit=$(realpath "$vcardsplit")
tools=$(realpath "$tools")
generator="$tools/vcardgen"
floor="$tools/floorsplit"

# corpus MODE CARDS: the path of that corpus, generated once and kept until the generator changes.
corpus() {
    local file="$work/corpus/$1-$2.vcf"
    if ! [ "$file" -nt "$generator" ]; then
        mkdir -p "$work/corpus"
        local flag=()
        [ "$1" = plain ] && flag=(--plain)
        "$generator" "${flag[@]}" "$2" >"$file.part"
        mv "$file.part" "$file"
    fi
    echo "$file"
}

contenders=(vcardsplit floor awk)
# commandFor CONTENDER NAMEFILE: the shell command that runs it in the current directory.
commandFor() {
    case $1 in
    vcardsplit) echo "'$vcardsplit' <'$2' >/dev/null" ;;
    floor) echo "'$floor' <'$2' >/dev/null" ;;
    awk) echo "read -r f <'$2' && $awk -f '$bench/split.awk' \"\$f\" >/dev/null" ;;
    esac
}

# Runs a contender once in a fresh empty directory and prints its files and peak RSS in KiB.
measure() {
    local contender=$1 names=$2 dir="$work/run"
    rm -rf "$dir"
    mkdir "$dir"
    (
        cd "$dir"
        case $contender in
        vcardsplit) /usr/bin/time -v -o "$work/time.txt" "$vcardsplit" <"$names" >/dev/null ;;
        floor) /usr/bin/time -v -o "$work/time.txt" "$floor" <"$names" >/dev/null ;;
        awk)
            read -r f <"$names"
            /usr/bin/time -v -o "$work/time.txt" "$awk" -f "$bench/split.awk" "$f" >/dev/null
            ;;
        esac
    )
    echo "$(find "$dir" -type f | wc -l) $(awk '/Maximum resident set size/ { print $NF }' "$work/time.txt")"
}

if $smoke; then
    count=200
    failed=0
    check() { # what expected actual
        if [ "$2" = "$3" ]; then
            echo "ok: $1: $3"
        else
            echo "FAILED: $1: expected $2, got $3"
            failed=$((failed + 1))
        fi
    }
    for mode in default plain; do
        file=$(corpus "$mode" "$count")
        flag=()
        [ "$mode" = plain ] && flag=(--plain)
        check "$mode corpus is the same for the same seed" 0 \
            "$("$generator" "${flag[@]}" "$count" | cmp -s - "$file"; echo $?)"
        check "$mode corpus cards" "$count" "$(grep -c '^BEGIN:VCARD' "$file")"
        echo "$file" >"$work/name.txt"
        # vcardsplit names a card from its FN, and from its N where it has none.
        named=$(awk '/^BEGIN:VCARD/ { name = 0 } /^F?N[;:]/ { name = 1 }
                     /^END:VCARD/ { count += name } END { print count }' "$file")
        # The floor and awk replace a file when a plain name comes again and miss the others.
        plainNames=$(grep '^FN:' "$file" | sort -u | wc -l)
        for contender in "${contenders[@]}"; do
            dir="$work/run-$contender"
            rm -rf "$dir"
            mkdir "$dir"
            status=0
            (cd "$dir" && eval "$(commandFor "$contender" "$work/name.txt")") || status=$?
            check "$contender exit status on $mode corpus" 0 "$status"
            expected=$([ "$contender" = vcardsplit ] && echo "$named" || echo "$plainNames")
            check "$contender files on $mode corpus" "$expected" "$(find "$dir" -type f | wc -l)"
        done
        if [ "$mode" = plain ]; then
            for contender in floor awk; do
                check "$contender writes the same files as vcardsplit on the plain corpus" 0 \
                    "$(diff -r "$work/run-vcardsplit/Contacts" "$work/run-$contender" >&2; echo $?)"
            done
        fi
    done
    rm -rf "$work"/run-*
    [ "$failed" = 0 ] || exit 1
    exit 0
fi

median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "| corpus | cards | contender | median s | ratio to floor | µs per card | CPU s | files written | peak RSS MiB |"
echo "|---|---:|---|---:|---:|---:|---:|---:|---:|"
IFS=, read -r -a sizeList <<<"$sizes"
IFS=, read -r -a corpusList <<<"$corpora"
for size in "${sizeList[@]}"; do
    count=$(cards "$size")
    for mode in "${corpusList[@]}"; do
        echo "Generating the $mode corpus of $count cards..." >&2
        file=$(corpus "$mode" "$count")
        echo "$file" >"$work/name.txt"
        declare -A files=() rss=()
        for contender in "${contenders[@]}"; do
            read -r written peak < <(measure "$contender" "$work/name.txt")
            files[$contender]=$written
            rss[$contender]=$peak
        done
        : >"$work/times.txt"
        for ((round = 0; round < runs; round++)); do
            echo "$mode $count cards: round $((round + 1)) of $runs..." >&2
            arguments=()
            for ((i = 0; i < ${#contenders[@]}; i++)); do
                contender=${contenders[(i + round) % ${#contenders[@]}]}
                arguments+=(-n "$contender" "cd '$work/run' && $(commandFor "$contender" "$work/name.txt")")
            done
            # sync: the files of the run before are on the disk before the clock starts.
            hyperfine --runs 1 --style none --export-csv "$work/round.csv" \
                --prepare "rm -rf '$work/run' && mkdir '$work/run' && sync" "${arguments[@]}" \
                >/dev/null
            tail -n +2 "$work/round.csv" | awk -F, '{ print $1 "," $4 "," $5 + $6 }' \
                >>"$work/times.txt"
        done
        rm -rf "$work/run"
        declare -A medians=() cpu=()
        for contender in "${contenders[@]}"; do
            medians[$contender]=$(grep "^$contender," "$work/times.txt" | cut -d, -f2 | median)
            cpu[$contender]=$(grep "^$contender," "$work/times.txt" | cut -d, -f3 | median)
        done
        for contender in "${contenders[@]}"; do
            who=$contender
            [ "$contender" = awk ] && who=$awk
            awk -v corpus="$mode" -v cards="$count" -v who="$who" \
                -v t="${medians[$contender]}" -v floor="${medians[floor]}" \
                -v cpu="${cpu[$contender]}" -v files="${files[$contender]}" \
                -v rss="${rss[$contender]}" \
                'BEGIN { printf "| %s | %d | %s | %.3f | %.2f | %.1f | %.3f | %d | %.1f |\n",
                         corpus, cards, who, t, t / floor, t / cards * 1e6, cpu, files,
                         rss / 1024 }'
        done
    done
done
