#!/bin/sh
# Replays live the attacks on connection following that were first tried
# against vestrel-trace by hand, each beside a real chat on 127.0.0.1:6112
# in a network namespace of its own, and prints one table row per attack:
# what must hold, what was seen, and whether it held.
#   bench/live-attacks.sh BUILD_DIR [VESTREL_TRACE]
# BUILD_DIR holds vestrel-trace, vestrel-gen and vestrel-attack (make bench
# builds them); VESTREL_TRACE is the capture program to attack (default
# BUILD_DIR/vestrel-trace), such as an earlier build. Needs root. Exits 1
# when an outcome did not hold.
# The checks are functions that row calls by name:
# shellcheck disable=SC2317
set -eu

if [ "${1:-}" = --inside ]; then
    # One attack, inside the namespace: ATTACK WORK_DIR TRACE ATTACKER [CAPTURE]
    attack=$2
    work=$3
    ip link set lo up
    # As in the live tests: nothing is lost on lo, so no loss probes and a
    # long retransmission timeout keep a segment from being sent twice.
    echo 0 >/proc/sys/net/ipv4/tcp_early_retrans 2>/dev/null || true
    echo 10000000 >/proc/sys/net/ipv4/tcp_rto_min_us 2>/dev/null || true
    replay=""
    [ -n "${6:-}" ] && replay="--replay $6"
    # shellcheck disable=SC2086
    exec timeout 300 "$5" "$attack" $replay --output "$work/out" --errors "$work/err" -- "$4" -i lo -t -U
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: live-attacks.sh BUILD_DIR [VESTREL_TRACE]}" && pwd)
trace=${2:-$build/vestrel-trace}
work=$(mktemp -d "${TMPDIR:-/var/tmp}/vestrel-attacks.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
out="$work/out"
err="$work/err"
failed=0
# The bytes of forged chat commands the far attack sends, as vestrel-attack
# sends them.
far_bytes=307200

# Runs one attack; its figures (vestrel-attack's line) go to $work/figures
# and each "name=value" into a shell variable of that name.
run() {
    unshare -n sh "$root/bench/live-attacks.sh" --inside "$1" "$work" "$trace" "$build/vestrel-attack" \
        ${2:+"$2"} >"$work/figures" || true
    sent=0 shown=0 twice=0 delay_median_ms=0 delay_max_ms=0 frames=0 inject_s=0 capture_cpu_s=0 status=-1
    challenge_acks=0
    # shellcheck disable=SC2046
    [ -s "$work/figures" ] && eval $(tr ' ' '\n' <"$work/figures" | grep -E '^[a-z_]+=-?[0-9.]+$')
    dropped=$(sed -n 's/^\([0-9]*\) packets dropped by kernel$/\1/p' "$err" 2>/dev/null)
    dropped=${dropped:-0}
}

# The end report's lines that count a loss other than zero.
loss_lines() { grep -cE '^[1-9][0-9]* bytes (lost|skipped|left incomplete)|not delivered' "$err" || true; }
# Lines of the output that hold the text.
count() { grep -c -- "$1" "$out" || true; }
# The end report's number before the text, or 0.
reported() { sed -n "s/^[a-z-]*: \([0-9]*\) $1.*/\1/p" "$err" | head -n1 | grep . || echo 0; }
# Every chat message shown once, and the capture ended with status 0.
chat_whole() { [ "$shown" = "$sent" ] && [ "$sent" -gt 0 ] && [ "$twice" = 0 ] && [ "$status" = 0 ]; }
chat_seen() { echo "chat: $shown of $sent messages shown, $twice twice (delay median $delay_median_ms ms, max $delay_max_ms ms); status $status"; }

# A table row: attack, what must hold, what was seen; the command after
# them tells whether it held.
row() {
    label=$1 must=$2 seen=$3
    shift 3
    result=holds
    "$@" || result="**does not hold**" failed=1
    printf '| %s | %s | %s | %s |\n' "$label" "$must" "$seen" "$result"
}

# What the replayed capture shows live, all but the chat's lines, against
# what vestrel-trace shows reading the same file; the end reports too.
same_as_file() {
    "$trace" -t -r "$1" >"$work/file.out" 2>"$work/file.err" || return 1
    grep -v '^127\.0\.0\.1:' "$out" | cmp -s - "$work/file.out" || return 1
    # The counts of frames, messages and connections take in the chat too.
    counts='listening on|packets (captured|received|dropped)|messages? shown$|connections?$'
    grep -vE "$counts" "$work/file.err" >"$work/file.losses"
    grep -vE "$counts" "$err" | cmp -s - "$work/file.losses"
}

replay_row() {
    label=$1
    must=$2
    limit_ms=$3
    shift 3
    "$build/vestrel-gen" "$@" -o "$work/attack.pcap"
    run replay "$work/attack.pcap"
    file=no
    same_as_file "$work/attack.pcap" && file=yes
    seen="$(chat_seen); attack lines and end report as read from the file: $file; $frames frames put on lo in ${inject_s} s; capture CPU ${capture_cpu_s} s; frames dropped by the kernel: $dropped"
    replay_held() {
        chat_whole && [ "$file" = yes ] && awk -v d="$delay_max_ms" -v l="$limit_ms" 'BEGIN { exit !(d <= l) }'
    }
    row "$label" "$must" "$seen" replay_held
    rm -f "$work/attack.pcap"
}

tiny() {
    replay_row "1. $1 one-byte segments behind a one-byte gap (vestrel-gen --tiny-segments $1)" \
        "every chat message shown, once, none more than 1 s after it was sent; the attack connection shown as vestrel-trace -r shows the capture" \
        1000 --tiny-segments "$1"
}

colliding() {
    replay_row "2. $1 IPv6 connections whose keys collide in an unkeyed hash (vestrel-gen --colliding $1)" \
        "the chat not held up: every message shown, once, none more than 1 s after it was sent; the connections shown as from the file" \
        1000 --colliding "$1"
}

spoofed_syn() {
    run syn
    ignored=$(count '^127\.0\.0\.1:.*Sent -> (SYN ignored: the connection is open)')
    reused=$(count 'closed (its ports are used again)')
    closes=$(count '^127\.0\.0\.1:.*Conn -> closed')
    fin=$(count '^127\.0\.0\.1:.*Conn -> closed (FIN)')
    report=$(reported 'SYN, FIN or RST segment(s) ignored')
    seen="$(chat_seen); SYN ignored lines: $ignored; 'its ports are used again': $reused; closes: $closes ($fin by FIN, at the end); end report: $report ignored, $(loss_lines) loss lines; the kernel's challenge ACKs: $challenge_acks"
    syn_held() {
        chat_whole && [ "$ignored" = 1 ] && [ "$reused" = 0 ] && [ "$closes" = 1 ] && [ "$fin" = 1 ] &&
            [ "$report" = 1 ] && [ "$(loss_lines)" = 0 ]
    }
    row "3. a SYN with the live chat's four ports and another starting number" \
        "monitoring goes on: no 'closed (its ports are used again)', every message after it shown, the connection closed by its FIN; the end report counts 1 SYN ignored and no loss; exit status 0" \
        "$seen" syn_held
}

far_ahead() {
    run far
    forged=$(count 'forged')
    refused=$(grep '^127\.0\.0\.1:.*Sent -> (.* bytes out of window, not delivered)' "$out" |
        sed 's/.*(\([0-9]*\) bytes.*/\1/' | awk '{ n += $1 } END { print n + 0 }')
    lost=$(count 'bytes lost')
    report=$(reported 'bytes not delivered')
    seen="$(chat_seen) (pings after the attack included); forged commands shown: $forged; bytes lost: $lost lines; out of window on the console: $refused bytes, in the end report: $report; $frames segments put on lo"
    far_held() {
        chat_whole && [ "$forged" = 0 ] && [ "$lost" = 0 ] && [ "$refused" = "$far_bytes" ] && [ "$report" = "$far_bytes" ]
    }
    row "4. 300 KB of forged chat commands at sequence number +10^9 on the live connection" \
        "never delivered and never moving the stream: no forged command shown, no bytes lost, all $far_bytes bytes counted out of window; the real pings that follow shown both ways" \
        "$seen" far_held
}

resets() {
    run rst
    outside=$(count '^127\.0\.0\.1:.*Sent -> (RST ignored: out of window)')
    inside=$(count '^127\.0\.0\.1:.*Sent -> (RST ignored: not at the next byte)')
    on_rst=$(count '^127\.0\.0\.1:.*Sent -> (18 bytes on an RST, not delivered)')
    forged=$(count 'forged')
    # The connection's lines: opened once, closed once, by the last RST,
    # after its last message.
    conn=$(grep '^127\.0\.0\.1:.*Conn ->' "$out" | sed 's/.*Conn -> //' | tr '\n' ';')
    last_message=$(grep -n 'real chat' "$out" | tail -n1 | cut -d: -f1)
    closed_at=$(grep -n 'Conn -> closed (RST)' "$out" | tail -n1 | cut -d: -f1)
    seen="$(chat_seen); RST ignored: $outside out of window, $inside not at the next byte; data on an RST not delivered: $on_rst lines; forged commands shown: $forged; the connection's own lines: $conn closed at line ${closed_at:-none}, after its last message at line ${last_message:-none}; the kernel's challenge ACKs: $challenge_acks"
    rst_held() {
        chat_whole && [ "$outside" = 1 ] && [ "$inside" = 1 ] && [ "$on_rst" = 2 ] && [ "$forged" = 0 ] &&
            [ "$conn" = "opened to 127.0.0.1:6112, protocol byte 0x01;closed (RST);" ] &&
            [ "${closed_at:-0}" -gt "${last_message:-0}" ]
    }
    row "5. an RST 10^9 past the next byte; then an RST with data inside the window, not at the next byte; then one with data at the next byte" \
        "the first two ignored, the messages after them shown under the open connection; the data on either RST never delivered; the last closes it" \
        "$seen" rst_held
}

echo "| attack | what must hold | seen | result |"
echo "|---|---|---|---|"
tiny 80000
tiny 150000
colliding 40000
spoofed_syn
far_ahead
resets
exit "$failed"
