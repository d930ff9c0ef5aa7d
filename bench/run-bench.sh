#!/bin/sh
# Measures Vestrel against tcpdump and writes bench/RESULTS.md:
#   bench/run-bench.sh BUILD_DIR
# BUILD_DIR holds vestrel, vestrel-trace, vestrel-gen, vestrel-flood and
# micro_bench (cmake -DVESTREL_BUILD_BENCH=ON; `make bench` does it all).
# Settings from the environment: BENCH_RUNS (offline runs per tool, default
# 5), BENCH_SECONDS (live flood length, default 3), BENCH_RATES (live rates
# in messages per second, 0 meaning as fast as possible); for the chat beside
# a bulk transfer: BENCH_BULK_RUNS (runs per capture program, default 2),
# BENCH_BULK_SECONDS (default 4), BENCH_BULK_RATE (chat messages per second,
# default 100) and BENCH_BEFORE (an earlier build's vestrel, run beside this
# one and shown as "vestrel, before"; none by default). BENCH_SECTIONS runs
# only the sections named (e.g. "filters"): the report is printed, and
# RESULTS.md left as it is.
# The live part needs root (a private network namespace); without it, it is
# left out and the report says so.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: run-bench.sh BUILD_DIR}" && pwd)
runs=${BENCH_RUNS:-7}
seconds=${BENCH_SECONDS:-3}
rates=${BENCH_RATES:-"10000 50000 100000 200000 0"}
bulk_runs=${BENCH_BULK_RUNS:-2}
bulk_seconds=${BENCH_BULK_SECONDS:-4}
bulk_rate=${BENCH_BULK_RATE:-100}
before=${BENCH_BEFORE:-}
results="$root/bench/RESULTS.md"
work=$(mktemp -d "${TMPDIR:-/var/tmp}/vestrel-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

report="$work/report.md"
tab=$(printf '\t')
say() { printf '%s\n' "$*" | tee -a "$report"; }

# Median of numbers, one a line on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs a command RUNS times with output to /dev/null; prints the medians
# "wall cpu rss_kb" (seconds, seconds of user plus system time, peak
# resident set in KB).
measure() {
    : >"$work/times"
    i=0
    while [ "$i" -lt "$runs" ]; do
        /usr/bin/time -f '%e %U %S %M' -o "$work/one" "$@" >/dev/null 2>"$work/stderr" ||
            { echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
        cat "$work/one" >>"$work/times"
        i=$((i + 1))
    done
    wall=$(awk '{ print $1 }' "$work/times" | median)
    cpu=$(awk '{ print $2 + $3 }' "$work/times" | median)
    rss=$(awk '{ print $4 }' "$work/times" | median)
    echo "$wall $cpu $rss"
}

machine() {
    say "# Vestrel benchmarks"
    say ""
    say "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    say "- CPU: $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo), $(nproc) cores"
    say "- kernel: $(uname -sr)"
    say "- load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
    say "- tcpdump: $(tcpdump --version 2>&1 | head -n1 | sed 's/tcpdump version //')," \
        "$(tcpdump --version 2>&1 | grep -i libpcap | head -n1)"
    say "- vestrel: $("$build/vestrel" -v 2>&1 | head -n1), built $(grep -m1 '^CMAKE_BUILD_TYPE' "$build/CMakeCache.txt" | cut -d= -f2)"
    say ""
}

# One offline table: the rows given on standard input ("label<TAB>program
# <TAB>options[<TAB>-Y's expression]"; the file is read with -r FILE after
# the options), measured
# in rounds: each round runs every row once, so a busy spell of the shared
# machine falls on all rows alike and the ratios between them hold. Prints
# the rows with medians of RUNS rounds; row N's "wall cpu" is left in
# $work/row.N.
round_table() {
    file=$1
    messages=$2
    cat >"$work/rows"
    rm -f "$work"/times.*
    round=0
    while [ "$round" -lt "$runs" ]; do
        index=0
        while IFS="$tab" read -r label program options filter; do
            index=$((index + 1))
            command=$program
            [ "$program" = tcpdump ] || command="$build/$program"
            set --
            [ -z "$filter" ] || set -- -Y "$filter"
            # shellcheck disable=SC2086
            /usr/bin/time -f '%e %U %S %M' -o "$work/one" $command $options "$@" -r "$file" \
                </dev/null >/dev/null 2>"$work/stderr" ||
                { echo "failed: $command $options -r $file" >&2; cat "$work/stderr" >&2; exit 1; }
            cat "$work/one" >>"$work/times.$index"
        done <"$work/rows"
        round=$((round + 1))
    done
    index=0
    while IFS="$tab" read -r label program options filter; do
        index=$((index + 1))
        wall=$(awk '{ print $1 }' "$work/times.$index" | median)
        cpu=$(awk '{ print $2 + $3 }' "$work/times.$index" | median)
        rss=$(awk '{ print $4 }' "$work/times.$index" | median)
        echo "$wall $cpu" >"$work/row.$index"
        awk -v label="$label" -v n="$messages" -v wall="$wall" -v cpu="$cpu" -v rss="$rss" 'BEGIN {
            printf "| %s | %.3f | %.3f | %.0f | %.0f | %.1f |\n", label, wall, cpu, n / wall, n / cpu, rss / 1024 }' |
            tee -a "${round_report:-$report}"
    done <"$work/rows"
}

offline() {
    million=1000000
    "$build/vestrel-gen" --messages $million -o "$work/one.pcap"
    "$build/vestrel-gen" --messages $million --packed -o "$work/packed.pcap"
    "$build/vestrel-gen" --messages 100000 -o "$work/tenth.pcap"
    say "## Offline: 1,000,000 messages from a file"
    say ""
    say "vestrel-gen sessions (chat events, chat commands, pings and answers, channel lists):" \
        "one message per segment ($(du -m "$work/one.pcap" | cut -f1) MB) and packed, up to 4 per segment" \
        "($(du -m "$work/packed.pcap" | cut -f1) MB). Output to /dev/null; medians of $runs rounds, each" \
        "round running every row once in turn; wall is elapsed time, CPU is user + system time (less" \
        "disturbed by other work on the machine)."
    say ""
    for kind in one packed; do
        say "### $kind"
        say ""
        say "| program | wall s | CPU s | msgs/s (wall) | msgs/s (CPU) | peak RSS MB |"
        say "|---|---|---|---|---|---|"
        round_table "$work/$kind.pcap" $million <<EOF
tcpdump -nn -r FILE${tab}tcpdump${tab}-nn
vestrel-trace -r FILE${tab}vestrel-trace${tab}
vestrel-trace --single-stream -r FILE${tab}vestrel-trace${tab}--single-stream
vestrel-trace -t -r FILE${tab}vestrel-trace${tab}-t
vestrel-trace --log /dev/null -r FILE${tab}vestrel-trace${tab}--log /dev/null
vestrel-trace -tttt -r FILE${tab}vestrel-trace${tab}-tttt
vestrel-trace --json -r FILE${tab}vestrel-trace${tab}--json
vestrel-trace --json -u -x -r FILE${tab}vestrel-trace${tab}--json -u -x
EOF
        say ""
        read -r tw tc <"$work/row.1"
        read -r vw vc <"$work/row.2"
        read -r sw sc <"$work/row.3"
        read -r lw lc <"$work/row.5"
        read -r jw jc <"$work/row.7"
        awk -v tw="$tw" -v tc="$tc" -v vw="$vw" -v vc="$vc" -v sw="$sw" -v sc="$sc" -v jw="$jw" -v jc="$jc" \
            -v lw="$lw" -v lc="$lc" 'BEGIN {
            printf "vestrel-trace -r is %.1fx faster than tcpdump by wall time, %.1fx by CPU time;", tw / vw, tc / vc
            printf " each connection on its own takes %.2fx the time of the shared stream (CPU %.2fx);", vw / sw, vc / sc
            printf " --log takes %.2fx the time of no log (CPU %.2fx);", lw / vw, lc / vc
            printf " --json takes %.2fx the time of the console output (CPU %.2fx).\n\n", jw / vw, jc / vc }' |
            tee -a "$report"
    done
    say "### Many connections at once"
    say ""
    "$build/vestrel-gen" --clients 100000 --messages-per-client 3 -o "$work/clients.pcap"
    say "vestrel-gen --clients 100000 --messages-per-client 3: 100,000 connections open at the same time" \
        "(all handshakes first, their messages interleaved, then every close), 600,000 messages" \
        "($(du -m "$work/clients.pcap" | cut -f1) MB)."
    say ""
    say "| program | wall s | CPU s | msgs/s (wall) | msgs/s (CPU) | peak RSS MB |"
    say "|---|---|---|---|---|---|"
    round_table "$work/clients.pcap" 600000 <<EOF
vestrel-trace -r FILE${tab}vestrel-trace${tab}
vestrel-trace --single-stream -r FILE${tab}vestrel-trace${tab}--single-stream
EOF
    say ""
    say "### Two real sessions, looped"
    say ""
    say "samples/real-legacy.pcap and samples/real-games.pcap (sessions between a real server and a client:" \
        "logons, accounts, realms, news, ads, profiles, friends, games) repeated by bench/loop-capture.py, each" \
        "copy's connections on new client ports, to 1,000,000 messages or just past; most of them are" \
        "messages only each connection's full decoding shows."
    say ""
    for session in legacy games; do
        per_copy=$("$build/vestrel-trace" --json -r "$root/samples/real-$session.pcap" | grep -c '"fields":')
        messages=$(python3 "$root/bench/loop-capture.py" "$root/samples/real-$session.pcap" "$work/$session.pcap" \
            $million "$per_copy")
        say "#### $session ($per_copy messages a copy, $messages in all, $(du -m "$work/$session.pcap" | cut -f1) MB)"
        say ""
        say "| program | wall s | CPU s | msgs/s (wall) | msgs/s (CPU) | peak RSS MB |"
        say "|---|---|---|---|---|---|"
        round_table "$work/$session.pcap" "$messages" <<EOF
vestrel-trace -r FILE${tab}vestrel-trace${tab}
vestrel-trace -u -r FILE${tab}vestrel-trace${tab}-u
vestrel-trace --json -r FILE${tab}vestrel-trace${tab}--json
EOF
        say ""
        rm -f "$work/$session.pcap"
    done
    say "### Memory against the capture's length"
    say ""
    say "| file | messages | peak RSS MB |"
    say "|---|---|---|"
    for entry in "tenth 100000" "one 1000000"; do
        # shellcheck disable=SC2086
        set -- $entry
        rss=$(measure "$build/vestrel-trace" -r "$work/$1.pcap" | cut -d' ' -f3)
        awk -v f="$1" -v n="$2" -v rss="$rss" 'BEGIN { printf "| %s | %d | %.1f |\n", f, n, rss / 1024 }' | tee -a "$report"
    done
    say ""
}

# Captures an attacker or a lossy tap makes, each at N and 2N, so that the
# time can be seen to grow no faster than the input.
attacks() {
    say "## Offline: damage and attacks"
    say ""
    say "vestrel-trace -r FILE (per connection), output to /dev/null, medians of $runs runs. lossy: a --messages" \
        "session whose capture lost every other data segment of each side (each segment after a gap in its" \
        "direction, the gap given up when the receiver acknowledges past it); beside it the clean capture of" \
        "as many messages. tiny: one connection whose pings come in one-byte segments, the first one captured" \
        "last, so that all the others wait behind a one-byte gap (past the receiver's window they are refused)." \
        "colliding: IPv6 connections from one /64 whose keys collide in the unkeyed hash the connection table" \
        "used before it had a per-process key; each opens, sends a ping and closes."
    say ""
    say "| capture | messages, segments or connections | wall s | CPU s | peak RSS MB |"
    say "|---|---|---|---|---|"
    : >"$work/attack-rows"
    for entry in "clean 500000 --messages 500000" "clean 1000000 --messages 1000000" \
        "lossy 500000 --messages 500000 --lossy" "lossy 1000000 --messages 1000000 --lossy" \
        "tiny 80000 --tiny-segments 80000" "tiny 160000 --tiny-segments 160000" \
        "colliding 40000 --colliding 40000" "colliding 80000 --colliding 80000"; do
        # shellcheck disable=SC2086
        set -- $entry
        kind=$1
        size=$2
        shift 2
        "$build/vestrel-gen" "$@" -o "$work/attack.pcap"
        measure "$build/vestrel-trace" -r "$work/attack.pcap" >"$work/attack-one"
        read -r wall cpu rss <"$work/attack-one"
        echo "$kind $size $wall $cpu" >>"$work/attack-rows"
        awk -v k="$kind" -v n="$size" -v wall="$wall" -v cpu="$cpu" -v rss="$rss" 'BEGIN {
            printf "| %s | %d | %.3f | %.3f | %.1f |\n", k, n, wall, cpu, rss / 1024 }' | tee -a "$report"
    done
    rm -f "$work/attack.pcap"
    say ""
    awk '{ cpu[$1 " " $2] = $4 }
        END {
            printf "lossy against clean at 1,000,000 messages: %.2fx the CPU time.", cpu["lossy 1000000"] / cpu["clean 1000000"]
            printf " Doubling the input multiplies the CPU time by %.2f (clean), %.2f (lossy), %.2f (tiny), %.2f (colliding).\n\n",
                cpu["clean 1000000"] / cpu["clean 500000"], cpu["lossy 1000000"] / cpu["lossy 500000"],
                cpu["tiny 160000"] / cpu["tiny 80000"], cpu["colliding 80000"] / cpu["colliding 40000"] }' \
        "$work/attack-rows" | tee -a "$report"
}

# -Y: a filter on the header alone against none, and ones that read the
# fields; then a pattern a backtracking engine takes exponential time over,
# on texts of one length and twice it, in one count of messages and twice it.
filters() {
    million=1000000
    [ -f "$work/one.pcap" ] || "$build/vestrel-gen" --messages $million -o "$work/one.pcap"
    say "## Offline: the message filter (-Y)"
    say ""
    say "The --messages capture of 1,000,000 messages (one per segment), as above; medians of $runs rounds." \
        "Every row has -n (which changes nothing), as the table's rows need options before the expression."
    say ""
    say "| program | wall s | CPU s | msgs/s (wall) | msgs/s (CPU) | peak RSS MB |"
    say "|---|---|---|---|---|---|"
    round_table "$work/one.pcap" $million <<EOF
vestrel-trace -n -r FILE${tab}vestrel-trace${tab}-n
vestrel-trace -n -Y 'name == SID_CHATCOMMAND' -r FILE${tab}vestrel-trace${tab}-n${tab}name == SID_CHATCOMMAND
vestrel-trace -n -Y 'text contains "/w"' -r FILE${tab}vestrel-trace${tab}-n${tab}text contains "/w"
vestrel-trace -n -Y 'not (name == SID_PING)' -r FILE${tab}vestrel-trace${tab}-n${tab}not (name == SID_PING)
EOF
    say ""
    read -r nw nc <"$work/row.1"
    read -r fw fc <"$work/row.2"
    awk -v nw="$nw" -v nc="$nc" -v fw="$fw" -v fc="$fc" 'BEGIN {
        printf "-Y %cname == SID_CHATCOMMAND%c takes %.2fx the time of no filter (CPU %.2fx).\n\n", 39, 39, fw / nw, fc / nc }' |
        tee -a "$report"
    say "Hostile texts: bench/long-texts.py writes one connection of chat commands whose texts are LENGTH" \
        "letters 'a' and a '!'; -Y 'text matches \"(a+)+b\"' takes none of them, and must read every text to" \
        "the end to know: a backtracking engine would try every way to split each run, at every start. Output to /dev/null; medians of $runs rounds."
    say ""
    say "| messages x text length | MB | wall s | CPU s | msgs/s (CPU) |"
    say "|---|---|---|---|---|"
    : >"$work/hostile-rows"
    for entry in "50000 2000" "100000 2000" "50000 4000"; do
        # shellcheck disable=SC2086
        set -- $entry
        python3 "$root/bench/long-texts.py" "$work/long.pcap" "$1" "$2"
        size=$(du -m "$work/long.pcap" | cut -f1)
        # Only this table's own row goes into the report.
        round_report=/dev/null
        round_table "$work/long.pcap" "$1" >/dev/null <<EOF
hostile${tab}vestrel-trace${tab}-n${tab}text matches "(a+)+b"
EOF
        round_report=
        read -r wall cpu <"$work/row.1"
        echo "$1 $2 $cpu" >>"$work/hostile-rows"
        awk -v n="$1" -v l="$2" -v mb="$size" -v wall="$wall" -v cpu="$cpu" 'BEGIN {
            printf "| %d x %d | %d | %.3f | %.3f | %.0f |\n", n, l, mb, wall, cpu, n / cpu }' | tee -a "$report"
    done
    rm -f "$work/long.pcap"
    say ""
    awk '{ cpu[$1 " " $2] = $3 }
        END { printf "Twice the messages: %.2fx the CPU time; twice the text: %.2fx.\n\n",
            cpu["100000 2000"] / cpu["50000 2000"], cpu["50000 4000"] / cpu["50000 2000"] }' "$work/hostile-rows" |
        tee -a "$report"
}

# Heads a live table; false, with a note, where no network namespace can
# be made.
live_section() {
    say "## $1"
    say ""
    unshare -n true 2>/dev/null && return 0
    say "Left out: making a network namespace needs root (unshare -n failed)."
    say ""
    return 1
}

live() {
    live_section "Live: a flood on 127.0.0.1:6112 in a private network namespace" || return 0
    say "vestrel-flood writes one 36-byte numbered chat command per write() for ${seconds} s, at a fixed rate or as fast" \
        "as it can (rate max; msgs/s sent is what the sender managed); a server end reads everything. 'packed' leaves Nagle and autocorking on, so a" \
        "fast sender packs many messages into each segment; 'nodelay' sets TCP_NODELAY, one segment per message," \
        "the hard case for a capture. The capture runs with its output to a file. messages seen: summary lines" \
        "(vestrel) or payload bytes / 36 (tcpdump, which prints one line per frame); segments: TCP segments sent" \
        "in the namespace (data and acknowledgements), resent: those sent again; dropped: the kernel's count at the end (on lo every" \
        "segment is captured twice, as sent and as received)."
    say ""
    say "| capture | mode | rate asked | msgs/s sent | messages sent | segments | resent | messages seen | frames dropped |"
    say "|---|---|---|---|---|---|---|---|---|"
    : >"$work/live-table"
    for tool in vestrel tcpdump; do
        for mode in packed nodelay; do
            for rate in $rates; do
                unshare -n sh "$root/bench/live-run.sh" "$build" "$tool" "$mode" "$rate" "$seconds" "$work" |
                    tee -a "$work/live-table" | tee -a "$report"
            done
        done
    done
    say ""
    say "Loss-free up to: the highest rate sent before the first run (in the order above) that dropped a frame"
    say "or missed a message; the flat-out run counts only when every slower run was loss-free too."
    say ""
    for tool in vestrel tcpdump; do
        for mode in packed nodelay; do
            awk -F'|' -v tool="$tool" -v mode="$mode" '
                { for (i = 2; i <= NF; i++) gsub(/ /, "", $i) }
                $2 != tool || $3 != mode { next }
                # Loss-free: nothing dropped, and every message sent was seen.
                !lost && $10 == 0 && $9 >= $6 { best = $5 + 0; asked = $4; next }
                !lost { lost = 1; lostAt = $4 }
                END {
                    if (best) printf "- %s, %s: %d messages/s (rate asked: %s)", tool, mode, best, asked
                    else printf "- %s, %s: below every rate tried", tool, mode
                    if (lost) printf "; first loss at rate %s", lostAt
                    printf "\n"
                }' "$work/live-table" | tee -a "$report"
        done
    done
    say ""
}

# One run of the bulk table; "before" runs BENCH_BEFORE's vestrel.
bulk_row() {
    case "$1" in
        before) unshare -n sh "$root/bench/live-run.sh" "$build" vestrel bulk "$bulk_rate" "$bulk_seconds" "$work" \
            "$before" | sed 's/^| vestrel |/| vestrel, before |/' ;;
        *) unshare -n sh "$root/bench/live-run.sh" "$build" "$1" bulk "$bulk_rate" "$bulk_seconds" "$work" ;;
    esac
}

live_bulk() {
    live_section "Live: chat beside a flat-out bulk transfer on another port" || return 0
    say "vestrel-flood sends ${bulk_rate} numbered chat commands a second to 127.0.0.1:6112 for ${bulk_seconds} s," \
        "one segment each, while a second connection on the same device (127.0.0.1:5000) moves data as fast" \
        "as it can in 1 MB writes, drained by its server end: traffic the capture must not let crowd out the" \
        "chat. tcpdump captures with 'tcp port 6112'. messages printed as in the table above; capture CPU s:" \
        "the capture program's own user + system time; bulk MB: what the bulk server end read (the sender" \
        "and receiver take most of both cores, so this varies with the load). Runs in turn, ${bulk_runs} of each."
    say ""
    say "| capture | chat rate asked | chat messages sent | messages printed | frames dropped | capture CPU s | bulk MB moved |"
    say "|---|---|---|---|---|---|---|"
    programs="vestrel vestrel-trace tcpdump"
    [ -n "$before" ] && programs="vestrel before vestrel-trace tcpdump"
    : >"$work/bulk-table"
    run=0
    while [ "$run" -lt "$bulk_runs" ]; do
        for program in $programs; do
            bulk_row "$program" | tee -a "$work/bulk-table" | tee -a "$report"
        done
        run=$((run + 1))
    done
    say ""
    # Missing: messages sent and not printed, run by run (a segment sent
    # again can print a message twice, which must not hide a lost one).
    awk -F'|' '
        { for (i = 2; i <= NF; i++) gsub(/^ +| +$/, "", $i) }
        !($2 in runs) { order[++count] = $2 }
        { runs[$2]++; sent[$2] += $4; dropped[$2] += $6; if ($4 > $5) missing[$2] += $4 - $5 }
        END {
            for (i = 1; i <= count; i++) {
                c = order[i]
                printf "- %s: %d of %d chat messages missing, %d frames dropped, over %d runs\n",
                    c, missing[c], sent[c], dropped[c], runs[c]
            }
        }' "$work/bulk-table" | tee -a "$report"
    say ""
}

# Issue 22's attacks replayed against live vestrel-trace beside a real chat.
live_attacks() {
    live_section "Live: attacks on vestrel-trace beside a real chat" || return 0
    say "bench/live-attacks.sh: in a network namespace of its own, a chat on 127.0.0.1:6112 (a chat command answered by" \
        "a chat event, or a ping by a ping, one segment each) while vestrel-attack puts the attack on lo; vestrel-trace" \
        "-i lo -t -U captures. Replays send vestrel-gen's capture as fast as it goes, the chat exchanging every 10 ms;" \
        "the other attacks carry the live chat's ports and sequence numbers with valid checksums, so the kernel answers" \
        "them as a server would. Delay: from the client's write to the message's line on vestrel-trace's output."
    say ""
    sh "$root/bench/live-attacks.sh" "$build" | tee -a "$report"
    say ""
}

micro() {
    say "## Micro-benchmarks (Google Benchmark)"
    say ""
    say "The capture callback on whole frames (console to /dev/null), each decoder through decodeDetails," \
        "and the log's hex dump. CPU time per call."
    say ""
    say '```'
    "$build/micro_bench" --benchmark_min_time=0.2 --benchmark_counters_tabular=true 2>/dev/null |
        awk '/^-+$/ { table = 1 } table' | tee -a "$report"
    say '```'
    say ""
}

machine
if [ -n "${BENCH_SECTIONS:-}" ]; then
    for section in $BENCH_SECTIONS; do "$section"; done
    echo "Not written: $results (BENCH_SECTIONS ran only $BENCH_SECTIONS)"
    exit 0
fi
offline
attacks
filters
live
live_bulk
live_attacks
micro

# The notes below the marker are written by hand and kept from run to run.
marker='<!-- Notes below are kept by bench/run-bench.sh -->'
{
    cat "$report"
    echo "$marker"
    if [ -f "$results" ] && grep -qF "$marker" "$results"; then
        awk -v marker="$marker" 'kept { print } $0 == marker { kept = 1 }' "$results"
    fi
} >"$work/RESULTS.md"
cp "$work/RESULTS.md" "$results"
echo "Written: $results"
