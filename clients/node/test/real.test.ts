// One real session: the installed agent on the real engine records a virtual
// display into a file and a replay clip, and both play.
import assert from "node:assert/strict";
import { execFileSync, spawn, type ChildProcess } from "node:child_process";
import { existsSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { setTimeout as sleep } from "node:timers/promises";
import { test } from "node:test";
import { Agent } from "../src";
import { realAgent } from "./harness";

// Xvfb on a free display, showing a moving test pattern in the window "Mire".
async function startDesktop(children: ChildProcess[]): Promise<string> {
  const server = spawn("Xvfb", ["-displayfd", "3", "-screen", "0", "640x360x24", "-nolisten", "tcp", "-noreset"], {
    stdio: ["ignore", "ignore", "ignore", "pipe"],
  });
  children.push(server);
  const display = await new Promise<string>((resolve, reject) => {
    let number = "";
    server.stdio[3]!.on("data", (chunk) => {
      number += chunk;
      if (number.includes("\n")) resolve(`:${number.trim()}`);
    });
    server.on("exit", () => reject(new Error("Xvfb ended")));
  });
  const player = spawn(
    "ffplay",
    [
      "-loglevel",
      "quiet",
      "-f",
      "lavfi",
      "-i",
      "testsrc=size=640x360:rate=30",
      "-window_title",
      "Mire",
      "-noborder",
      "-left",
      "0",
      "-top",
      "0",
      "-an",
    ],
    { stdio: "ignore", env: { ...process.env, DISPLAY: display } },
  );
  children.unshift(player); // ended before its server
  for (let tries = 0; tries < 100; tries++) {
    try {
      execFileSync("xwininfo", ["-name", "Mire"], { stdio: "ignore", env: { ...process.env, DISPLAY: display } });
      return display;
    } catch {
      await sleep(100); // polling the window's appearance, with a deadline
    }
  }
  throw new Error("the test pattern's window did not appear");
}

// Frames of the first video stream that decode.
function framesIn(file: string): number {
  const out = execFileSync("ffprobe", [
    "-v",
    "error",
    "-count_frames",
    "-select_streams",
    "v:0",
    "-show_entries",
    "stream=nb_read_frames",
    "-of",
    "csv=p=0",
    file,
  ]);
  return Number(out.toString().trim());
}

test("a real session on the engine: a file and a replay clip that play", { timeout: 120_000 }, async (t) => {
  assert.ok(
    existsSync(realAgent),
    `no installed agent at ${realAgent}: run ctest --test-dir build/default -R real_engine_install`,
  );
  const children: ChildProcess[] = [];
  const out = mkdtempSync(path.join(tmpdir(), "kalto-node-real-"));
  let agent: Agent | undefined;
  let agentEnded = false;
  // However the test ends: nothing it started may keep the runner alive (a player can hang
  // in its own exit once its display is gone, so none is asked to end politely).
  t.after(() => {
    // Only while it runs: an ended agent's number may be another process's by now.
    if (agent?.pid !== undefined && !agentEnded) {
      try {
        process.kill(agent.pid, "SIGKILL");
      } catch {
        // Ended already.
      }
    }
    for (const child of children) child.kill("SIGKILL");
    if (!process.env.KALTO_KEEP_E2E) rmSync(out, { recursive: true, force: true });
  });
  const env = { ...process.env, DISPLAY: await startDesktop(children), TMPDIR: out };

  const listed = await Agent.list(realAgent, { env });
  assert.ok(
    listed.monitors.some((monitor) => monitor.value === "0"),
    JSON.stringify(listed),
  );
  assert.ok(
    listed.windows.some((window) => window.value === "Mire:ffplay:ffplay"),
    JSON.stringify(listed),
  );

  agent = await Agent.spawn(realAgent, { env });
  agent.on("exit", () => (agentEnded = true));
  assert.ok(agent.modules.includes("obs-ffmpeg") && agent.encoders.includes("obs_x264"), agent.modules.join());
  const file = path.join(out, "session.mkv");
  const started = await agent.start({
    mode: "both",
    path: file,
    replayDir: path.join(out, "clips"),
    source: { kind: "monitor", monitor: "0" },
    audio: { kind: "none" },
    baseWidth: 640,
    baseHeight: 360,
    width: 640,
    height: 360,
    fps: 30,
    bitrate: 1500,
  });
  assert.deepEqual(started.warnings, []);
  await sleep(2000); // the length of the recording, not a synchronisation
  const saved = await agent.save();
  const finished = await agent.stop();
  assert.deepEqual([finished.code, finished.error, finished.path], [0, null, file]);
  assert.ok(finished.stats.encoded > 0);
  assert.deepEqual(await agent.quit(), { finished: null, code: 0 });
  assert.ok(framesIn(file) > 10, `${file} plays`);
  assert.ok(framesIn(saved.path) > 10, `${saved.path} plays`);
});
