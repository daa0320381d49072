#!/usr/bin/env python3
"""A stand-in for the agent, for the example controller's tests. STAND_IN picks
what it does after `start`:
  nonfatal  the non-fatal errors and a line that is not JSON, then a whole session
  dies      "started", a line on standard error, then it dies
  refuses   a fatal start error; it then waits for the end of its input
With --list it prints a listing (or, with STAND_IN=nolist, the error of a failed
bring-up) and ends. STAND_IN_MARK names a file written when standard input ends."""
import json
import os
import sys

behaviour = os.environ.get("STAND_IN", "nonfatal")


def emit(**event):
    print(json.dumps(event, ensure_ascii=False, sort_keys=True), flush=True)


def stats():
    return dict(brightness=120.0, darkSeconds=0.0, dropped=0, encoded=30, event="stats",
                examined=2, fps=30.0, lagged=0, rendered=30, seconds=1.0, source="écran DXGI")


if "--list" in sys.argv[1:]:
    if behaviour == "nolist":
        emit(event="error", message="libobs ne démarre pas")
        sys.exit(3)
    print(json.dumps({"monitors": [{"name": "Écran 1", "value": "\\\\.\\DISPLAY1"}],
                      "windows": [{"name": "[jeu.exe]: Jeu", "value": "Jeu:GameWindow:jeu.exe"}]},
                     ensure_ascii=False, sort_keys=True))
    sys.exit(0)

emit(event="ready", encoders=["obs_x264", "ffmpeg_aac"], modules=[], version="29.0.2")
path = None
for line in sys.stdin:
    command = json.loads(line)
    cmd = command["cmd"]
    if cmd == "start" and behaviour == "dies":
        emit(event="started", encoder="obs_x264", mode=command["mode"], path=command["path"],
             source="écran DXGI")
        print("stand-in: erreur de segmentation simulée", file=sys.stderr, flush=True)
        os._exit(70)
    elif cmd == "start" and behaviour == "refuses":
        emit(event="error", message="aucune source d'image disponible")
    elif cmd == "start":
        path = command["path"]
        emit(event="error", message="son du jeu seul indisponible : la vidéo sera muette")
        print("not json {", flush=True)
        emit(event="error", message="encodeur AAC indisponible : la vidéo sera muette")
        emit(event="error", message="encodeur obs_qsv11_v2 inutilisable : ")
        emit(event="started", encoder="obs_x264", mode=command["mode"], path=path, source="écran DXGI")
    elif cmd == "stats":
        emit(**stats())
    elif cmd == "save":
        emit(event="saved", path=command.get("replayDir", "") + "/KALTO_replay.mp4")
    elif cmd == "stop":
        emit(event="finished", code=0, encoder="obs_x264", error=None, mode="both", path=path,
             stats=stats())
    elif cmd == "quit":
        break
if os.environ.get("STAND_IN_MARK"):
    open(os.environ["STAND_IN_MARK"], "w").close()
emit(event="bye")
