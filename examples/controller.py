#!/usr/bin/env python3
"""A small controller for kalto-obs, standard library only.

Starts the agent, records a monitor into a file and a replay buffer with the
computer's sound, asks for statistics, saves a replay, stops and quits,
printing every event the agent writes.

Usage: controller.py <agent executable> <output folder> [monitor, default "0"] [seconds, default 3]
       controller.py --list    prints the monitor and window values of this computer
"""
import collections
import ctypes
import json
import os
import pathlib
import queue
import subprocess
import sys
import threading
import time

# The start's two errors after which it goes on (without sound); any other error ends it.
NON_FATAL = {
    "son du jeu seul indisponible : la vidéo sera muette",
    "encodeur AAC indisponible : la vidéo sera muette",
}
# A stop waits up to 20 s per output, so 40 s in mode "both"; then the engine shuts down.
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


def _encode(part):
    """One part of a window value, escaped as the capture plug-in does."""
    return part.replace("#", "#22").replace(":", "#3A")


def _windows_targets():
    from ctypes import wintypes
    user32 = ctypes.WinDLL("user32", use_last_error=True)
    kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)

    class MONITORINFOEXW(ctypes.Structure):
        _fields_ = [("cbSize", wintypes.DWORD), ("rcMonitor", wintypes.RECT),
                    ("rcWork", wintypes.RECT), ("dwFlags", wintypes.DWORD),
                    ("szDevice", wintypes.WCHAR * 32)]

    class DISPLAY_DEVICEW(ctypes.Structure):
        _fields_ = [("cb", wintypes.DWORD), ("DeviceName", wintypes.WCHAR * 32),
                    ("DeviceString", wintypes.WCHAR * 128), ("StateFlags", wintypes.DWORD),
                    ("DeviceID", wintypes.WCHAR * 128), ("DeviceKey", wintypes.WCHAR * 128)]

    # Handles are pointer-sized: every call is declared so that ctypes passes them whole.
    W = wintypes
    user32.GetMonitorInfoW.argtypes = [W.HMONITOR, ctypes.c_void_p]
    user32.EnumDisplayDevicesW.argtypes = [W.LPCWSTR, W.DWORD, ctypes.c_void_p, W.DWORD]
    user32.IsWindowVisible.argtypes = [W.HWND]
    user32.GetWindowLongPtrW.argtypes = [W.HWND, ctypes.c_int]
    user32.GetWindowTextLengthW.argtypes = [W.HWND]
    user32.GetWindowTextW.argtypes = [W.HWND, W.LPWSTR, ctypes.c_int]
    user32.GetClassNameW.argtypes = [W.HWND, W.LPWSTR, ctypes.c_int]
    user32.GetWindowThreadProcessId.argtypes = [W.HWND, ctypes.POINTER(W.DWORD)]
    kernel32.OpenProcess.argtypes = [W.DWORD, W.BOOL, W.DWORD]
    kernel32.QueryFullProcessImageNameW.argtypes = [W.HANDLE, W.DWORD, W.LPWSTR, ctypes.POINTER(W.DWORD)]
    kernel32.CloseHandle.argtypes = [W.HANDLE]
    EDD_GET_DEVICE_INTERFACE_NAME = 0x1
    monitors = []
    monitor_proc = ctypes.WINFUNCTYPE(wintypes.BOOL, wintypes.HMONITOR, wintypes.HDC,
                                      ctypes.POINTER(wintypes.RECT), wintypes.LPARAM)

    def on_monitor(handle, _dc, _rect, _param):
        info = MONITORINFOEXW()
        info.cbSize = ctypes.sizeof(info)
        if user32.GetMonitorInfoW(handle, ctypes.byref(info)):
            device = DISPLAY_DEVICEW()
            device.cb = ctypes.sizeof(device)
            # The plug-in matches the device interface name first, the GDI name after.
            if user32.EnumDisplayDevicesW(info.szDevice, 0, ctypes.byref(device),
                                          EDD_GET_DEVICE_INTERFACE_NAME) and device.DeviceID:
                value = device.DeviceID
            else:
                value = info.szDevice
            r = info.rcMonitor
            primary = " (primary)" if info.dwFlags & 1 else ""
            monitors.append((value, f"{info.szDevice} {r.right - r.left}x{r.bottom - r.top} "
                                    f"@ {r.left},{r.top}{primary}"))
        return True

    user32.EnumDisplayMonitors(None, None, monitor_proc(on_monitor), 0)

    windows = []
    window_proc = ctypes.WINFUNCTYPE(wintypes.BOOL, wintypes.HWND, wintypes.LPARAM)
    GWL_STYLE, GWL_EXSTYLE, WS_CHILD, WS_EX_TOOLWINDOW = -16, -20, 0x40000000, 0x80
    user32.GetWindowLongPtrW.restype = ctypes.c_ssize_t
    kernel32.OpenProcess.restype = wintypes.HANDLE

    def on_window(hwnd, _param):
        if not user32.IsWindowVisible(hwnd):
            return True
        if user32.GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CHILD:
            return True
        if user32.GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW:
            return True
        title = ctypes.create_unicode_buffer(user32.GetWindowTextLengthW(hwnd) + 1)
        user32.GetWindowTextW(hwnd, title, len(title))
        klass = ctypes.create_unicode_buffer(256)
        user32.GetClassNameW(hwnd, klass, 256)
        pid = wintypes.DWORD()
        user32.GetWindowThreadProcessId(hwnd, ctypes.byref(pid))
        exe = "unknown"  # what the plug-in names a process it cannot open
        process = kernel32.OpenProcess(0x1000, False, pid.value)  # PROCESS_QUERY_LIMITED_INFORMATION
        if process:
            path = ctypes.create_unicode_buffer(32768)
            size = wintypes.DWORD(len(path))
            if kernel32.QueryFullProcessImageNameW(process, 0, path, ctypes.byref(size)):
                exe = path.value.rsplit("\\", 1)[-1]
            kernel32.CloseHandle(process)
        value = ":".join(_encode(p) for p in (title.value, klass.value, exe))
        windows.append((value, f"[{exe}]: {title.value}"))
        return True

    user32.EnumWindows(window_proc(on_window), 0)
    return monitors, windows


def _randr_monitors(display, root):
    """The engine's screen capture numbers monitors as RandR lists them
    (`xrandr --listmonitors`); None when RandR is not there."""
    try:
        xrandr = ctypes.CDLL("libXrandr.so.2")
    except OSError:
        return None

    class Monitor(ctypes.Structure):
        _fields_ = [("name", ctypes.c_ulong), ("primary", ctypes.c_int), ("automatic", ctypes.c_int),
                    ("noutput", ctypes.c_int), ("x", ctypes.c_int), ("y", ctypes.c_int),
                    ("width", ctypes.c_int), ("height", ctypes.c_int), ("mwidth", ctypes.c_int),
                    ("mheight", ctypes.c_int), ("outputs", ctypes.c_void_p)]

    xrandr.XRRGetMonitors.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                      ctypes.POINTER(ctypes.c_int)]
    xrandr.XRRGetMonitors.restype = ctypes.POINTER(Monitor)
    xrandr.XRRFreeMonitors.argtypes = [ctypes.POINTER(Monitor)]
    count = ctypes.c_int()
    found = xrandr.XRRGetMonitors(display, root, 1, ctypes.byref(count))
    if not found:
        return None
    monitors = []
    for n in range(count.value):
        m = found[n]
        primary = " (primary)" if m.primary else ""
        monitors.append((str(n), f"{m.width}x{m.height} @ {m.x},{m.y}{primary}"))
    xrandr.XRRFreeMonitors(found)
    return monitors


def _linux_targets():
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    display = x11.XOpenDisplay(None)
    if not display:
        raise OSError("no X display (DISPLAY is not set or the server is gone)")
    vp, ul = ctypes.c_void_p, ctypes.c_ulong
    x11.XScreenCount.argtypes = [vp]
    x11.XDefaultRootWindow.argtypes = [vp]
    x11.XDefaultRootWindow.restype = ul
    x11.XInternAtom.argtypes = [vp, ctypes.c_char_p, ctypes.c_int]
    x11.XInternAtom.restype = ul
    x11.XQueryTree.argtypes = [vp, ul, ctypes.POINTER(ul), ctypes.POINTER(ul),
                               ctypes.POINTER(ctypes.POINTER(ul)), ctypes.POINTER(ctypes.c_uint)]
    x11.XGetWindowProperty.argtypes = [
        vp, ul, ul, ctypes.c_long, ctypes.c_long, ctypes.c_int, ul, ctypes.POINTER(ul),
        ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ul), ctypes.POINTER(ul),
        ctypes.POINTER(ctypes.c_void_p)]
    x11.XFree.argtypes = [vp]
    x11.XCloseDisplay.argtypes = [vp]

    def prop(window, name, kind):
        atom, kind_atom = x11.XInternAtom(display, name, 1), x11.XInternAtom(display, kind, 1)
        if not atom or not kind_atom:
            return None
        actual, fmt, items, after, data = ul(), ctypes.c_int(), ul(), ul(), ctypes.c_void_p()
        if x11.XGetWindowProperty(display, window, atom, 0, 1024, 0, kind_atom, ctypes.byref(actual),
                                  ctypes.byref(fmt), ctypes.byref(items), ctypes.byref(after),
                                  ctypes.byref(data)) != 0 or not data.value:
            return None
        try:
            if fmt.value == 32:
                return ctypes.cast(data, ctypes.POINTER(ctypes.c_long))[0] if items.value else None
            return ctypes.string_at(data, items.value * fmt.value // 8)
        finally:
            x11.XFree(data)

    monitors = _randr_monitors(display, x11.XDefaultRootWindow(display))
    if monitors is None:
        monitors = [(str(n), f"X screen {n}") for n in range(x11.XScreenCount(display))]
    windows = []

    def walk(window):
        # The agent takes the first window of this depth-first walk whose title matches.
        raw = prop(window, b"_NET_WM_NAME", b"UTF8_STRING") or prop(window, b"WM_NAME", b"STRING")
        if raw:
            title = raw.decode("utf-8", "replace")
            klass = (prop(window, b"WM_CLASS", b"STRING") or b"").split(b"\0")
            pid = prop(window, b"_NET_WM_PID", b"CARDINAL")
            exe = ""
            if pid:
                try:
                    exe = os.path.basename(os.readlink(f"/proc/{pid}/exe"))
                except OSError:
                    pass
            klass_name = klass[1].decode("utf-8", "replace") if len(klass) > 1 else ""
            windows.append((":".join(_encode(p) for p in (title, klass_name, exe)),
                            f"[{exe or '?'}]: {title}"))
        root, parent = ul(), ul()
        children, count = ctypes.POINTER(ul)(), ctypes.c_uint()
        if x11.XQueryTree(display, window, ctypes.byref(root), ctypes.byref(parent),
                          ctypes.byref(children), ctypes.byref(count)):
            kids = [children[i] for i in range(count.value)]
            if children:
                x11.XFree(children)
            for kid in kids:
                walk(kid)

    walk(x11.XDefaultRootWindow(display))
    x11.XCloseDisplay(display)
    return monitors, windows


def list_targets():
    """The values this computer offers for "monitor" and "window": two lists of
    (value, description) pairs."""
    return _windows_targets() if sys.platform == "win32" else _linux_targets()


def main():
    if len(sys.argv) == 2 and sys.argv[1] == "--list":
        monitors, windows = list_targets()
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
