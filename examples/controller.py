#!/usr/bin/env python3
"""A small controller for kalto-obs, standard library only.

Starts the agent, records the screen into a file and a replay buffer with the
computer's sound, asks for statistics, saves a replay, stops and quits,
printing every event the agent writes.

Usage: controller.py <agent executable> <output folder> [monitor, default "0"] [seconds, default 3]
"""
import json
import pathlib
import queue
import subprocess
import sys
import threading
import time


class AgentEnded(Exception):
    pass


class Agent:
    def __init__(self, executable):
        self.process = subprocess.Popen(
            [executable], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, text=True, encoding="utf-8", bufsize=1)
        self.events = queue.Queue()
        self.diagnostics = []
        threading.Thread(target=self._read_events, daemon=True).start()
        # Standard error must be read too, or the agent may block on a full pipe.
        threading.Thread(target=self._read_diagnostics, daemon=True).start()

    def _read_events(self):
        for line in self.process.stdout:
            self.events.put(json.loads(line))
        self.events.put(None)  # the agent closed its standard output

    def _read_diagnostics(self):
        for line in self.process.stderr:
            self.diagnostics.append(line.rstrip("\n"))

    def send(self, command):
        print(">>>", json.dumps(command, ensure_ascii=False))
        self.process.stdin.write(json.dumps(command, ensure_ascii=False) + "\n")
        self.process.stdin.flush()

    def wait_for(self, kind, timeout=30.0):
        """Prints events until one of this kind arrives; returns it."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                event = self.events.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise TimeoutError(f'no "{kind}" event within {timeout} s')
            if event is None:
                code = self.process.wait()
                raise AgentEnded(f'the agent ended (exit code {code}) before a "{kind}" event')
            print("<<<", json.dumps(event, ensure_ascii=False))
            if event["event"] == kind:
                return event
            if event["event"] == "error" and kind != "error":
                raise RuntimeError(f'the agent refused: {event["message"]}')


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    executable, out = sys.argv[1], pathlib.Path(sys.argv[2]).resolve()
    monitor = sys.argv[3] if len(sys.argv) > 3 else "0"
    seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 3.0
    (out / "clips").mkdir(parents=True, exist_ok=True)

    agent = Agent(executable)
    try:
        agent.wait_for("ready")
        agent.send({"cmd": "start", "mode": "both", "path": str(out / "session.mp4"),
                    "replayDir": str(out / "clips"),
                    "source": {"kind": "monitor", "monitor": monitor},
                    "baseWidth": 1280, "baseHeight": 720, "width": 1280, "height": 720,
                    "fps": 30, "bitrate": 4000, "audio": {"kind": "desktop"}})
        agent.wait_for("started")
        time.sleep(seconds)  # the length of the recording, not a synchronisation
        agent.send({"cmd": "stats"})
        agent.wait_for("stats")
        agent.send({"cmd": "save"})
        saved = agent.wait_for("saved")
        agent.send({"cmd": "stop"})
        finished = agent.wait_for("finished", timeout=60)
        agent.send({"cmd": "quit"})
        agent.wait_for("bye")
        code = agent.process.wait(timeout=30)
    except (AgentEnded, TimeoutError, RuntimeError) as problem:
        print(f"controller: {problem}", file=sys.stderr)
        for line in agent.diagnostics[-20:]:
            print(f"  agent: {line}", file=sys.stderr)
        if agent.process.poll() is None:
            agent.process.kill()
        return 1
    print(f"agent ended with code {code}; video {finished['path']}, replay {saved['path']}")
    return 0 if code == 0 and finished["code"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
