#!/usr/bin/env bash
# Records the same window for SECONDS on a virtual desktop of 3 windows and of
# 300, RUNS times each in turn, and prints the agent's lagged frames and CPU
# (its utime+stime over the recording) with their medians.
# Usage: scripts/window-bench.sh [RUNS] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
seconds=${2:-20}
cmake --build --preset default -j2 --target kalto-obs kalto_engine win-capture win-wasapi \
    colour_window many_windows >/dev/null
cmake --install build/default --prefix build/default/real-root >/dev/null
exec python3 - "$runs" "$seconds" <<'PY'
import json, os, statistics, subprocess, sys, time
runs, seconds = int(sys.argv[1]), float(sys.argv[2])
build = "build/default"
agent_bin = f"{build}/real-root/bin/64bit/kalto-obs"
tick = os.sysconf("SC_CLK_TCK")

def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick

def record(total_windows, display, out):
    env = dict(os.environ, DISPLAY=display)
    target = subprocess.Popen([f"{build}/tests/colour_window", "Teinte", "ff0000"],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env, text=True)
    target.stdout.readline()
    crowd = subprocess.Popen([f"{build}/bench/many_windows", str(total_windows - 1)],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env, text=True)
    crowd.stdout.readline()
    agent = subprocess.Popen([agent_bin], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=env, text=True)
    def event(kind):
        for line in agent.stdout:
            e = json.loads(line)
            if e.get("event") == kind:
                return e
            if e.get("event") in ("error", "finished"):
                raise RuntimeError(line)
        raise RuntimeError(f"no {kind}")
    def send(obj):
        agent.stdin.write(json.dumps(obj) + "\n"); agent.stdin.flush()
    event("ready")
    send({"cmd": "start", "mode": "file", "path": out, "fps": 30, "bitrate": 2000, "audio": {"kind": "none"},
          "source": {"kind": "window", "window": "Teinte:colour_window:colour_window"},
          "baseWidth": 320, "baseHeight": 180, "width": 320, "height": 180})
    event("started")
    before, first = cpu_seconds(agent.pid), time.monotonic()
    send({"cmd": "stats"}); s0 = event("stats")
    time.sleep(seconds)
    send({"cmd": "stats"}); s1 = event("stats")
    cpu = (cpu_seconds(agent.pid) - before) / (time.monotonic() - first) * 100
    agent.stdin.close(); event("finished"); agent.wait()
    for p in (target, crowd):
        p.stdin.close(); p.wait()
    return s1["lagged"] - s0["lagged"], cpu

figures = {3: [], 300: []}
for run in range(runs):
    for count in (3, 300):
        display = f":{170 + run * 2 + (count == 300)}"
        xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x720x24", "-nolisten", "tcp"],
                                stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(f"/tmp/.X11-unix/X{display[1:]}"):
                break
            time.sleep(0.05)
        try:
            lagged, cpu = record(count, display, f"/tmp/window-bench-{os.getpid()}.mp4")
        finally:
            xvfb.terminate(); xvfb.wait()
            if os.path.exists(f"/tmp/window-bench-{os.getpid()}.mp4"):
                os.remove(f"/tmp/window-bench-{os.getpid()}.mp4")
        figures[count].append((lagged, cpu))
        print(f"run {run + 1}: {count:3d} windows: lagged {lagged} in {seconds:.0f} s, cpu {cpu:.1f} %",
              flush=True)
for count, rows in figures.items():
    print(f"median {count:3d} windows: lagged {statistics.median(r[0] for r in rows)}, "
          f"cpu {statistics.median(r[1] for r in rows):.1f} %")
PY
