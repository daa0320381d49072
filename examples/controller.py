#!/usr/bin/env python3
"""A small controller for kalto-obs, standard library only.

Starts the agent, records a monitor into a file and a replay buffer with the
computer's sound, asks for statistics, saves a replay, stops and quits,
printing every event the agent writes.

Usage: controller.py <agent executable> <output folder> [monitor, default "0"] [seconds, default 3]
       controller.py --list <agent executable>    prints the monitor and window values the
                                                  agent's capture plug-ins offer here
"""
import collections
import json
import pathlib
import queue
import re
import subprocess
import sys
import threading
import time

# The start's errors after which it goes on: the two about sound, and an encoder the agent
# chose that cannot encode (it tries the next); any other error ends it.
NON_FATAL = {
    "son du jeu seul indisponible : la vidéo sera muette",
    "encodeur AAC indisponible : la vidéo sera muette",
}
ENCODER_GIVEN_UP = re.compile(r"^encodeur \S+ inutilisable : ")
# A stop takes at most 25 s whatever the mode; then the engine shuts down.
STOP_TIMEOUT = 60.0
EVENT_TIMEOUT = 30.0


class AgentEnded(Exception):
    pass


class Unreadable:
    """A line of standard output that is not JSON: reported, then skipped."""

    def __init__(self, text):
        self.text = text


class Agent:
    def __init__(self, executable):
        self.process = subprocess.Popen(
            [executable], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, text=True, encoding="utf-8", errors="replace", bufsize=1)
        self.events = queue.Queue()
        self.diagnostics = collections.deque(maxlen=40)  # the last lines are the useful ones
        threading.Thread(target=self._read_events, daemon=True).start()
        # Standard error must be read too, or the agent may block on a full pipe.
        threading.Thread(target=self._read_diagnostics, daemon=True).start()

    def _read_events(self):
        for line in self.process.stdout:
            try:
                self.events.put(json.loads(line))
            except ValueError:
                self.events.put(Unreadable(line.rstrip("\n")))
        self.events.put(None)  # the agent closed its standard output

    def _read_diagnostics(self):
        for line in self.process.stderr:
            self.diagnostics.append(line.rstrip("\n"))

    def send(self, command):
        text = json.dumps(command, ensure_ascii=False)
        print(">>>", text)
        try:
            self.process.stdin.write(text + "\n")
            self.process.stdin.flush()
        except (BrokenPipeError, ValueError):
            raise AgentEnded(f"the agent ended before {command['cmd']!r} ({self.exit_text()})")

    def exit_text(self):
        try:
            code = self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            return "still running"
        if code < 0:
            return f"killed by signal {-code}"
        return f"exit code {code}"

    def next_event(self, deadline, waiting_for):
        """The next event before `deadline`; unreadable lines are reported and skipped."""
        while True:
            try:
                event = self.events.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise TimeoutError(f'no "{waiting_for}" event in time') from None
            if event is None:
                raise AgentEnded(f'the agent ended before a "{waiting_for}" event ({self.exit_text()})')
            if isinstance(event, Unreadable):
                print(f"controller: skipped a line that is not JSON: {event.text[:200]!r}",
                      file=sys.stderr)
                continue
            print("<<<", json.dumps(event, ensure_ascii=False))
            return event

    def wait_for(self, kind, timeout=EVENT_TIMEOUT):
        """Prints events until one of this kind arrives; returns it. An error ends the wait."""
        deadline = time.monotonic() + timeout
        while True:
            event = self.next_event(deadline, kind)
            if event.get("event") == kind:
                return event
            if event.get("event") == "error":
                raise RuntimeError(f'the agent refused: {event.get("message")}')
            # Other events ("saved", "source", "black", kinds of later versions) are only shown.

    def start(self, command):
        """Sends `start`; returns "started" after any non-fatal errors, raises on a fatal one."""
        self.send(command)
        deadline = time.monotonic() + EVENT_TIMEOUT
        while True:
            event = self.next_event(deadline, "started")
            if event.get("event") == "started":
                return event
            if event.get("event") == "error":
                if event.get("message") in NON_FATAL:
                    print(f"controller: going on without sound: {event['message']}", file=sys.stderr)
                    continue
                if ENCODER_GIVEN_UP.match(event.get("message", "")):
                    print(f"controller: the agent tries its next encoder: {event['message']}",
                          file=sys.stderr)
                    continue
                raise RuntimeError(f'the start failed: {event.get("message")}')

    def end(self):
        """Closes standard input, which stops a recording as `stop` would, and waits.

        Killing the agent during a recording would lose the end of the file (and
        its index for .mp4): it is the last resort once the longest stop has passed."""
        try:
            self.process.stdin.close()
        except (BrokenPipeError, OSError):
            pass
        try:
            return self.process.wait(timeout=STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            print(f"controller: the agent did not end within {STOP_TIMEOUT:.0f} s; killed",
                  file=sys.stderr)
            self.process.kill()
            return self.process.wait()


def list_targets(executable):
    """The values the agent's capture plug-ins offer for "monitor" and "window", as
    `kalto-obs --list` prints them: two lists of (value, name) pairs. The agent
    starts its engine for it and ends at once; another agent may be recording."""
    run = subprocess.run([executable, "--list"], stdin=subprocess.DEVNULL, capture_output=True,
                         encoding="utf-8", errors="replace", timeout=EVENT_TIMEOUT)
    lines = run.stdout.splitlines()
    try:
        listing = json.loads(lines[0]) if lines else {}
    except ValueError:
        listing = {}
    if run.returncode != 0 or "monitors" not in listing:
        # A failed bring-up prints its error event, as a start of the agent would.
        reason = listing.get("message") or run.stderr.strip()[-500:]
        raise RuntimeError(f"kalto-obs --list ended with code {run.returncode}: {reason}")
    return ([(m["value"], m["name"]) for m in listing["monitors"]],
            [(w["value"], w["name"]) for w in listing["windows"]])


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--list":
        try:
            monitors, windows = list_targets(sys.argv[2])
        except (OSError, RuntimeError, subprocess.TimeoutExpired) as problem:
            print(f"controller: {problem}", file=sys.stderr)
            return 1
        for value, text in monitors:
            print(f"monitor {json.dumps(value, ensure_ascii=False)}  {text}")
        for value, text in windows:
            print(f"window  {json.dumps(value, ensure_ascii=False)}  {text}")
        return 0
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    executable, out = sys.argv[1], pathlib.Path(sys.argv[2]).resolve()
    monitor = sys.argv[3] if len(sys.argv) > 3 else "0"
    seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 3.0
    (out / "clips").mkdir(parents=True, exist_ok=True)

    try:
        agent = Agent(executable)
    except OSError as problem:
        print(f"controller: cannot start the agent: {problem}", file=sys.stderr)
        return 1
    try:
        agent.wait_for("ready")
        agent.start({"cmd": "start", "mode": "both", "path": str(out / "session.mkv"),
                     "replayDir": str(out / "clips"),
                     "source": {"kind": "monitor", "monitor": monitor},
                     "baseWidth": 1280, "baseHeight": 720, "width": 1280, "height": 720,
                     "fps": 30, "bitrate": 4000, "audio": {"kind": "desktop"}})
        time.sleep(seconds)  # the length of the recording, not a synchronisation
        agent.send({"cmd": "stats"})
        agent.wait_for("stats")
        agent.send({"cmd": "save"})
        saved = agent.wait_for("saved")
        agent.send({"cmd": "stop"})
        finished = agent.wait_for("finished", timeout=STOP_TIMEOUT)
        agent.send({"cmd": "quit"})
        agent.wait_for("bye")
    except (AgentEnded, TimeoutError, RuntimeError) as problem:
        print(f"controller: {problem}", file=sys.stderr)
        agent.end()
        print(f"controller: the agent ended with {agent.exit_text()}", file=sys.stderr)
        for line in agent.diagnostics:
            print(f"  agent: {line}", file=sys.stderr)
        return 1
    code = agent.end()
    print(f"agent ended with code {code}; video {finished['path']}, replay {saved['path']}")
    return 0 if code == 0 and finished["code"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
