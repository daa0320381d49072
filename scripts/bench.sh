#!/usr/bin/env bash
# Times the agent against a bare libobs program doing the same session with the
# engine's own Linux capture (xshm_input, pulse_output_capture): 1280x720 at
# 30 fps, file and replay buffer, desktop sound, ten seconds, one save. The two
# alternate; each figure's median is printed with the median of the pairwise
# ratios agent/bare. The screen shows a moving pattern with a binary frame
# counter in its top-left corner, read back from each file to count the
# distinct source frames it kept. Usage: scripts/bench.sh [runs, default 5]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
source scripts/lib/desktop.sh
root=$(pwd)/build/default/real-root
install_tree "$root" agent_timing bare_libobs
work=$(mktemp -d)
pids=()
trap 'stop_children; rm -rf "$work"' EXIT
# 16 blocks of 64x64 pixels, white for each 1 bit of the frame number.
counter="color=c=black:s=16x1:r=30,format=gray,geq=lum='255*mod(floor(N/pow(2\\,X))\\,2)'"
counter="$counter,scale=1024x64:flags=neighbor,format=yuv420p"
start_desktop 1280x720 "testsrc=size=1280x720:rate=30[t];$counter[c];[t][c]overlay=0:0"

# The number of distinct counter values among the frames of file $1.
distinct_frames() {
    ffmpeg -nostdin -hide_banner -loglevel error -i "$1" \
        -vf "crop=1024:64:0:0,scale=16:1:flags=area,format=gray" -f rawvideo - |
        python3 -c '
import sys
data = sys.stdin.buffer.read()
print(len({sum(1 << i for i, b in enumerate(data[k:k + 16]) if b >= 128)
           for k in range(0, len(data) - 15, 16)}))'
}
# The figure line a program printed, with the distinct frames of file $1 added.
figures() { grep -o '{"ready_ms.*}' | tail -n 1 | sed "s/}\$/,\"distinct\":$(distinct_frames "$1")}/"; }

: >"$work/agent" ; : >"$work/bare"
for i in $(seq "$runs"); do
    rm -f "$work"/*.mp4
    KALTO_BENCH_ROOT="$root" KALTO_BENCH_OUT="$work" build/default/bench/agent_timing >"$work/out" 2>/dev/null
    figures "$work/agent.mp4" <"$work/out" >>"$work/agent"
    rm -f "$work"/*.mp4
    build/default/bench/bare_libobs "$root" "$work" >"$work/out" 2>/dev/null
    figures "$work/bare.mp4" <"$work/out" >>"$work/bare"
    echo "run $i: agent $(tail -n 1 "$work/agent")"
    echo "run $i: bare  $(tail -n 1 "$work/bare")"
done

# One column of a file of figure lines.
column() { sed -E "s/.*\"$2\":([0-9.]+).*/\\1/" "$1"; }
median() { sort -g | awk '{v[NR]=$1} END {if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }
printf '\n%-10s %12s %12s %14s\n' figure "agent (med)" "bare (med)" "agent/bare"
for f in distinct cpu_cores rss_mib ready_ms start_ms save_ms stop_ms; do
    a=$(column "$work/agent" $f | median)
    b=$(column "$work/bare" $f | median)
    r=$(paste <(column "$work/agent" $f) <(column "$work/bare" $f) | awk '$2 > 0 {print $1/$2}' | median)
    printf '%-10s %12s %12s %14.3f\n' "$f" "$a" "$b" "$r"
done
