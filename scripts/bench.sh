#!/usr/bin/env bash
# Times the agent against a bare libobs program doing the same session
# (1280x720 at 30 fps, file and replay buffer, desktop sound, one save),
# alternating the two, and prints each figure's median and the median of
# the pairwise ratios agent/bare. Usage: scripts/bench.sh [runs, default 5]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target kalto-obs kalto_engine win-capture win-wasapi agent_timing bare_libobs
root=$(pwd)/build/default/real-root
cmake --install build/default --prefix "$root" >/dev/null
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

exec 5< <(Xvfb -displayfd 1 -screen 0 1280x720x24 -br -nolisten tcp -noreset 2>/dev/null)
pids+=($!)
read -r -t 20 number <&5
export DISPLAY=":$number"
ffplay -loglevel quiet -f lavfi -i "testsrc=size=1280x720:rate=30" -window_title Mire -noborder -an &
pids+=($!)
for _ in $(seq 100); do xwininfo -name Mire >/dev/null 2>&1 && break; sleep 0.1; done

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
