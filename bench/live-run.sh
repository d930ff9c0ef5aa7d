#!/bin/sh
# One live run, inside a network namespace of its own (run it under
# unshare -n): TOOL captures on lo while vestrel-flood sends, then one row
# of the live table is printed.
#   live-run.sh BUILD_DIR vestrel|vestrel-trace|tcpdump packed|nodelay|bulk RATE SECONDS WORK_DIR [VESTREL]
# Mode bulk sends the chat one segment a message (as nodelay) beside a
# flat-out transfer on 127.0.0.1:5000, and prints a row of the bulk table.
# VESTREL is the capture program to run for tool vestrel (default
# BUILD_DIR/vestrel), such as an earlier build to compare with.
set -eu
build=$1
tool=$2
mode=$3
rate=$4
seconds=$5
work=$6
vestrel=${7:-$build/vestrel}
bulk_port=5000
out="$work/live.out"
err="$work/live.err"

ip link set lo up
# As in the live tests: a segment sent again reaches the capture twice, and
# nothing is ever lost on lo, so no loss probes and a long retransmission
# timeout (the settings belong to this namespace alone).
echo 0 >/proc/sys/net/ipv4/tcp_early_retrans 2>/dev/null || true
echo 10000000 >/proc/sys/net/ipv4/tcp_rto_min_us 2>/dev/null || true

# Waits (at most 5 s) until the file holds the text.
wait_for() {
    tries=0
    until grep -q "$2" "$1" 2>/dev/null; do
        tries=$((tries + 1))
        [ "$tries" -lt 100 ] || { echo "live-run: $tool never got ready" >&2; cat "$err" >&2; exit 1; }
        sleep 0.05
    done
}

if [ "$tool" = vestrel ]; then
    number=$("$vestrel" -d | sed -n 's/^\([0-9]*\)\. lo$/\1/p')
    "$vestrel" -i "$number" >"$out" 2>"$err" &
    pid=$!
    wait_for "$out" "^Monitoring"
elif [ "$tool" = vestrel-trace ]; then
    "$build/vestrel-trace" -i lo >"$out" 2>"$err" &
    pid=$!
    wait_for "$err" "listening on"
else
    tcpdump -i lo -nn 'tcp port 6112' >"$out" 2>"$err" &
    pid=$!
    wait_for "$err" "listening on"
fi

# tcpdump says it is listening a moment before its capture takes frames
# (it saw no SYN and lost the first messages when the flood began at once).
sleep 1

case "$mode" in
    packed) extra="" ;;
    nodelay) extra="--nodelay" ;;
    bulk) extra="--nodelay --bulk-port $bulk_port" ;;
    *) echo "live-run: unknown mode '$mode'" >&2; exit 2 ;;
esac
# shellcheck disable=SC2086
flood=$("$build/vestrel-flood" --rate "$rate" --seconds "$seconds" $extra)

# The capture may still be working through what the kernel holds (and
# tcpdump takes a partly filled kernel block only after its 1 s read
# timeout). It has taken everything once it sleeps waiting for frames with
# its output no longer growing: a program starved of the processor by other
# work is runnable, not asleep. Checked every 0.1 s, at most 60 s.
sleep 1.5
last=-1
calm=0
tries=0
while [ "$calm" -lt 5 ] && [ "$tries" -lt 600 ]; do
    state=$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null || echo gone)
    size=$(wc -c <"$out")
    if [ "$state" = S ] && [ "$size" = "$last" ]; then calm=$((calm + 1)); else calm=0; fi
    last=$size
    tries=$((tries + 1))
    sleep 0.1
done
# The capture's own CPU time (user + system), taken just before it stops.
cpu=$(awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$pid/stat")
kill -INT "$pid"
wait "$pid" || true

sent=$(echo "$flood" | sed -n 's/.*messages=\([0-9]*\).*/\1/p')
segments=$(echo "$flood" | sed -n 's/.*segments=\([0-9]*\).*/\1/p')
resent=$(echo "$flood" | sed -n 's/.*resent=\([0-9]*\).*/\1/p')
achieved=$(echo "$flood" | awk '{ for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] } }
                                END { printf "%.0f\n", v["messages"] / v["seconds"] }')
if [ "$tool" != tcpdump ]; then
    seen=$(grep -c '^Sent -> \[0x0E\] SID_CHATCOMMAND' "$out" || true)
    dropped=$(sed -n 's/^vestrel[a-z-]*: \([0-9]*\) frames dropped.*/\1/p' "$err")
else
    # One line per frame; the client's frames carry 36 bytes a message.
    seen=$(awk '/ > 127\.0\.0\.1\.6112: / { for (i = 1; i < NF; i++) if ($i == "length") bytes += $(i + 1) }
                END { printf "%d\n", bytes / 36 }' "$out")
    dropped=$(sed -n 's/^\([0-9]*\) packets\{0,1\} dropped by kernel.*/\1/p' "$err")
fi
[ "$rate" = 0 ] && rate=max
if [ "$mode" = bulk ]; then
    bulk=$(echo "$flood" | sed -n 's/.*bulk=\([0-9]*\).*/\1/p')
    echo "| $tool | $rate | $sent | $seen | ${dropped:-0} | $cpu | $(awk -v b="$bulk" 'BEGIN { printf "%.0f", b / 1e6 }') |"
else
    echo "| $tool | $mode | $rate | $achieved | $sent | $segments | $resent | $seen | ${dropped:-0} |"
fi
