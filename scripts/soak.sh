#!/usr/bin/env bash
# Soak on the real engine: start/stop cycles in each mode and replay saves,
# then the agent's resident memory and open descriptors before and after, and a
# check that every file written plays. A bare libobs program then runs the same
# cycles: its growth is the engine's own, and the agent's may exceed it by 1 MiB.
# Usage: scripts/soak.sh [cycles per mode, default 200] [saves, default 50]
set -euo pipefail
cd "$(dirname "$0")/.."
cycles=${1:-200}
saves=${2:-50}
source scripts/lib/desktop.sh
out=$(pwd)/build/soak
rm -rf "$out"
mkdir -p "$out/files" "$out/clips" "$out/bare/clips"
install_tree "$out/root" bare_soak

pids=()
trap stop_children EXIT
start_desktop 640x360
start_sound_server

# exec: the coprocess must be the agent itself, whose memory and descriptors are read.
coproc AGENT { exec "$out/root/bin/64bit/kalto-obs" 2>"$out/agent-stderr.log"; }
pids+=($AGENT_PID)
source scripts/lib/agent.sh
# Asks for statistics until the output has written a few frames, so that
# every file of the soak has something to play.
encoded_some() {
    for _ in $(seq 100); do
        send '{"cmd":"stats"}'
        expect stats
        local encoded
        encoded=$(sed -E 's/.*"encoded":([0-9-]+).*/\1/' <<<"$last")
        [ "$encoded" -ge 10 ] && return 0
        sleep 0.1
    done
}
memory() { awk '/^VmRSS/ {print $2}' "/proc/$AGENT_PID/status"; }
descriptors() { ls "/proc/$AGENT_PID/fd" | wc -l; }
start() {
    send '{"cmd":"start","mode":"'"$1"'","path":"'"$2"'","replayDir":"'"$out"'/clips","source":{"kind":"window","window":"Mire:ffplay:ffplay"},"baseWidth":640,"baseHeight":360,"width":640,"height":360,"fps":30,"bitrate":1500,"audio":{"kind":"desktop"}}'
    expect started
}

expect ready
# One cycle first, so that what the engine sets up once is in the baseline.
start file "$out/files/warmup.mp4"; encoded_some; send '{"cmd":"stop"}'; expect finished
rss_before=$(memory); fds_before=$(descriptors)
began=$(date +%s)
for mode in file replay both; do
    for i in $(seq "$cycles"); do
        start "$mode" "$out/files/$mode-$i.mp4"
        encoded_some
        send '{"cmd":"stop"}'
        expect finished
        [[ "$last" == *'"code":0'* ]] || echo "cycle $mode $i: $last" >&2
    done
    echo "$mode: $cycles cycles, resident $(memory) KiB, descriptors $(descriptors)"
done
start replay "$out/clips"
for i in $(seq "$saves"); do
    send '{"cmd":"save"}'
    expect saved
done
send '{"cmd":"stop"}'
expect finished
rss_after=$(memory); fds_after=$(descriptors)
send '{"cmd":"quit"}'
expect bye
wait "$AGENT_PID" || true

played=0; broken=0
for f in "$out"/files/*.mp4 "$out"/clips/*.mp4; do
    if ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of csv=p=0 "$f" | grep -q h264; then
        played=$((played + 1))
    else
        broken=$((broken + 1)); echo "does not play: $f" >&2
    fi
done
echo
echo "cycles: $((3 * cycles)) start/stop, $saves saves, in $(( $(date +%s) - began )) s"
echo "resident memory: $rss_before KiB before, $rss_after KiB after ($(( (rss_after - rss_before) )) KiB)"
echo "open descriptors: $fds_before before, $fds_after after"
echo "files: $played play, $broken do not"

echo
echo "the same cycles by a bare libobs program:"
build/default/bench/bare_soak "$out/root" "$out/bare" "$cycles" "$saves" 2>"$out/bare-stderr.log" | tee "$out/bare.log"
bare=$(sed -nE 's/.*\(([-0-9]+) KiB\).*/\1/p' "$out/bare.log")
agent=$((rss_after - rss_before))
echo "growth: agent $agent KiB, bare program $bare KiB, difference $((agent - bare)) KiB (goal: at most 1024)"
[ "$broken" -eq 0 ] && [ $((agent - bare)) -le 1024 ]
