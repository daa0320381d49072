#!/usr/bin/env bash
# One long recording on the real engine, as a user runs one: mode both into an
# .mkv with desktop sound, a save every minute, statistics every 10 s, and the
# agent's resident memory with dropped and lagged frames every 5 minutes. At the
# end every clip must last replaySeconds (to a keyframe's distance) and the
# file must last as long as the clock ran between `started` and the stop (to 1 s).
# Usage: scripts/long-session.sh [minutes, default 60] [replaySeconds, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-60}
replay=${2:-30}
source scripts/lib/desktop.sh
out=$(pwd)/build/long-session
rm -rf "$out"
mkdir -p "$out/clips"
install_tree "$out/root"

pids=()
trap stop_children EXIT
start_desktop 1280x720
start_sound_server

coproc AGENT { exec "$out/root/bin/64bit/kalto-obs" 2>"$out/agent-stderr.log"; }
pids+=($AGENT_PID)
source scripts/lib/agent.sh
member() { sed -nE "s/.*\"$1\":(\"[^\"]*\"|[^,}]*).*/\1/p" <<<"$last"; }
memory() { awk '/^VmRSS/ {print $2}' "/proc/$AGENT_PID/status"; }
now() { date +%s.%N; }

expect ready
echo "engine $(member version)"
send '{"cmd":"start","mode":"both","path":"'"$out"'/session.mkv","replayDir":"'"$out"'/clips","source":{"kind":"monitor","monitor":"0"},"baseWidth":1280,"baseHeight":720,"width":1280,"height":720,"fps":30,"bitrate":4000,"audio":{"kind":"desktop"},"replaySeconds":'"$replay"'}'
expect started
began=$(now)
printf '%8s %12s %8s %8s %9s %6s\n' minute "resident KiB" dropped lagged rendered saves
saves=0
for tick in $(seq $((minutes * 6))); do
    # Statistics every 10 s: the agent's clock, not ours, paces nothing.
    deadline=$(awk -v b="$began" -v t="$tick" 'BEGIN { printf "%.3f", b + 10 * t }')
    while awk -v d="$deadline" -v n="$(now)" 'BEGIN { exit !(n < d) }'; do sleep 0.5; done
    send '{"cmd":"stats"}'
    expect stats
    stats=$last
    if [ $((tick % 6)) -eq 0 ]; then
        send '{"cmd":"save"}'
        expect saved
        saves=$((saves + 1))
    fi
    if [ $((tick % 30)) -eq 0 ] || [ "$tick" -eq 1 ] || [ "$tick" -eq $((minutes * 6)) ]; then
        last=$stats
        printf '%8s %12s %8s %8s %9s %6s\n' "$(awk -v t="$tick" 'BEGIN { printf "%.1f", t / 6 }')" \
            "$(memory)" "$(member dropped)" "$(member lagged)" "$(member rendered)" "$saves"
    fi
done
stopped=$(now)
send '{"cmd":"stop"}'
expect finished
echo "finished: code $(member code), dropped $(member dropped), lagged $(member lagged) of $(member rendered) frames"
send '{"cmd":"quit"}'
expect bye
wait "$AGENT_PID" || true

duration() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
faults=0
clock=$(awk -v a="$began" -v b="$stopped" 'BEGIN { printf "%.2f", b - a }')
length=$(duration "$out/session.mkv")
echo "file: $length s for $clock s of clock"
awk -v a="$length" -v b="$clock" 'BEGIN { d = a - b; exit !(d <= 1 && d >= -1) }' ||
    { echo "the file's length is more than 1 s from the clock" >&2; faults=$((faults + 1)); }
shortest=""; longest=""
for clip in "$out"/clips/*; do
    d=$(duration "$clip" || echo 0)
    [ -n "$shortest" ] && awk -v a="$d" -v b="$shortest" 'BEGIN { exit !(a >= b) }' || shortest=$d
    [ -n "$longest" ] && awk -v a="$d" -v b="$longest" 'BEGIN { exit !(a <= b) }' || longest=$d
    # A clip begins at the oldest keyframe the buffer still holds (one a second).
    awk -v d="$d" -v r="$replay" 'BEGIN { exit !(d >= r - 1.5 && d <= r + 1.5) }' ||
        { echo "clip $clip lasts $d s" >&2; faults=$((faults + 1)); }
done
clips=$(ls "$out/clips" | wc -l)
echo "clips: $clips of $saves, from $shortest s to $longest s"
[ "$clips" -eq "$saves" ] || { echo "a save wrote no clip" >&2; faults=$((faults + 1)); }
[ "$faults" -eq 0 ]
