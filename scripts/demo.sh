#!/usr/bin/env bash
# Records a real session: installs what is needed, builds, installs the agent
# into demo-out/root, starts a virtual display showing a moving test pattern,
# then drives the agent through start, stats, save, stop and quit, printing
# every event as it comes and a summary of each file written.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
out="$top/demo-out"

source scripts/lib/desktop.sh
rm -rf "$out"
mkdir -p "$out/videos" "$out/clips"
install_tree "$out/root"

pids=()
trap stop_children EXIT
start_desktop 1280x720
echo "virtual display $DISPLAY with a moving test pattern"

coproc AGENT { exec "$out/root/bin/64bit/kalto-obs" 2>"$out/agent-stderr.log"; }
pids+=($AGENT_PID)
send() { echo ">>> $1"; echo "$1" >&"${AGENT[1]}"; }
# Prints events until one of kind $1 arrives (or $2 seconds pass).
wait_for() {
    local line
    while IFS= read -r -t "${2:-30}" line <&"${AGENT[0]}"; do
        echo "<<< $line"
        [[ "$line" == *"\"event\":\"$1\""* ]] && return 0
    done
    echo "no \"$1\" event in time" >&2
    return 1
}
# Prints whatever comes during $1 seconds.
watch_for() { local line; while IFS= read -r -t "$1" line <&"${AGENT[0]}"; do echo "<<< $line"; done; true; }

wait_for ready
send '{"cmd":"start","mode":"both","path":"'"$out"'/videos/session.mp4","replayDir":"'"$out"'/clips","source":{"kind":"monitor","monitor":"0"},"baseWidth":1280,"baseHeight":720,"width":1280,"height":720,"fps":30,"bitrate":4000,"audio":{"kind":"desktop"},"replaySeconds":20}'
wait_for started
watch_for 4
send '{"cmd":"stats"}'
wait_for stats
send '{"cmd":"save"}'
wait_for saved
watch_for 2
send '{"cmd":"stop"}'
wait_for finished
send '{"cmd":"quit"}'
wait_for bye
wait "$AGENT_PID" || true

echo
echo "files written:"
for f in "$out"/videos/*.mp4 "$out"/clips/*.mp4; do
    echo "  $f"
    ffprobe -v error -show_entries stream=codec_name,width,height:format=duration \
        -of default=noprint_wrappers=1 "$f" | sed 's/^/    /'
done
