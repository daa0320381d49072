#!/usr/bin/env bash
# Times the agent against a bare libobs program doing the same session
# (1280x720 at 30 fps, file and replay buffer, desktop sound, one save),
# alternating the two, and prints each figure's median and the median of
# the pairwise ratios agent/bare. Usage: scripts/bench.sh [runs, default 5]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
source scripts/lib/desktop.sh
root=$(pwd)/build/default/real-root
install_tree "$root" agent_timing bare_libobs
work=$(mktemp -d)
pids=()
trap 'stop_children; rm -rf "$work"' EXIT
start_desktop 1280x720

figures() { grep -o '{"ready_ms.*}' | tail -n 1; }
: >"$work/agent" ; : >"$work/bare"
for i in $(seq "$runs"); do
    rm -f "$work"/*.mp4
    KALTO_BENCH_ROOT="$root" KALTO_BENCH_OUT="$work" build/default/bench/agent_timing 2>/dev/null \
        | figures >>"$work/agent"
    rm -f "$work"/*.mp4
    build/default/bench/bare_libobs "$root" "$work" 2>/dev/null | figures >>"$work/bare"
    echo "run $i: agent $(tail -n 1 "$work/agent")"
    echo "run $i: bare  $(tail -n 1 "$work/bare")"
done

# One column of a file of figure lines.
column() { sed -E "s/.*\"$2\":([0-9.]+).*/\\1/" "$1"; }
median() { sort -g | awk '{v[NR]=$1} END {if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }
printf '\n%-10s %12s %12s %14s\n' figure "agent (med)" "bare (med)" "agent/bare"
for f in ready_ms start_ms save_ms stop_ms cpu_cores; do
    a=$(column "$work/agent" $f | median)
    b=$(column "$work/bare" $f | median)
    r=$(paste <(column "$work/agent" $f) <(column "$work/bare" $f) | awk '$2 > 0 {print $1/$2}' | median)
    printf '%-10s %12s %12s %14.2f\n' "$f" "$a" "$b" "$r"
done
