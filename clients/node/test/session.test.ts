// The client against the built agent and the scripted fake engine.
import assert from "node:assert/strict";
import { test } from "node:test";
import { unlinkSync, writeFileSync } from "node:fs";
import path from "node:path";
import { setTimeout as sleep } from "node:timers/promises";
import { Agent, AgentError } from "../src";
import { fakeTree, next, startOptions, type FakeTree, type TreeOptions } from "./harness";

type Context = { after(fn: () => void): void };

function tree(t: Context, options: TreeOptions = {}): FakeTree {
  const made = fakeTree(options);
  t.after(made.remove);
  return made;
}

// An agent that ends with its test, whatever the test left it doing: asked to
// quit, then killed when a fault of the client keeps it from ending.
async function spawn(t: Context, made: FakeTree, deadlines = {}): Promise<Agent> {
  const agent = await Agent.spawn(made.agent, { env: made.env, cwd: path.join(made.root, "tmp"), deadlines });
  t.after(async () => {
    const ended = await Promise.race([
      agent.quit().then(
        () => true,
        () => true,
      ),
      sleep(10_000, false, { ref: false }),
    ]);
    if (!ended) process.kill(agent.pid!, "SIGKILL");
  });
  return agent;
}

// A fault of the client that loses a promise fails its test instead of hanging it.
const limit = { timeout: 60_000 };

test("a whole session: ready, start, stats, mask, save, stop and quit, each answered in turn", limit, async (t) => {
  // Each command reaches the agent 0.1 s late: a promise that resolved too early would show.
  const made = tree(t, { modules: ["obs-ffmpeg", "obs-x264"], inputDelay: 0.1 });
  const agent = await spawn(t, made);
  assert.deepEqual(agent.modules, ["obs-ffmpeg", "obs-x264"]);
  assert.deepEqual(agent.encoders, ["obs_x264", "ffmpeg_aac"]);
  assert.equal(agent.version, "29.0.2-fake");

  const options = startOptions(made.root);
  const started = await agent.start(options);
  assert.deepEqual(started, {
    encoder: "obs_x264",
    event: "started",
    mode: "both",
    path: options.path,
    source: "fenêtre WGC",
    warnings: [],
  });
  await agent.mask(true);
  // In force once the promise has resolved.
  assert.ok(
    made.journal().some((line) => /^obs_source_set_enabled \S+ false$/.test(line)),
    "the picture is hidden",
  );

  // Asked all at once, answered one at a time: each promise gets its own answer.
  const announced = next(agent, "saved");
  const [stats, saved, shown, finished, refused] = await Promise.allSettled([
    agent.stats(),
    agent.save(),
    agent.mask(false),
    agent.stop(),
    agent.stop(),
  ]);
  assert.equal(stats.status === "fulfilled" && stats.value.event, "stats");
  assert.ok(saved.status === "fulfilled");
  assert.equal(saved.value.path, path.join(options.replayDir!, "KALTO_replay_1.mp4"));
  assert.deepEqual(await announced, saved.value);
  assert.equal(shown.status, "fulfilled");
  assert.ok(finished.status === "fulfilled");
  assert.deepEqual([finished.value.code, finished.value.error, finished.value.path], [0, null, options.path]);
  assert.ok(refused.status === "rejected");
  assert.equal(refused.reason.code, "not-recording");

  const exit = next(agent, "exit");
  assert.deepEqual(await agent.quit(), { finished: null, code: 0 });
  assert.deepEqual(await exit, { code: 0, signal: null, bye: true });
  await assert.rejects(agent.stats(), { code: "agent-ended" });
});

test("a start's non-fatal errors come with started, or with the fatal error that ends it", limit, async (t) => {
  const made = tree(t, {
    fake: { FAKE_OBS_REFUSE: "source:wasapi_process_output_capture,encoder:ffmpeg_aac,encoder:jim_nvenc" },
  });
  const agent = await spawn(t, made);
  const options = startOptions(made.root, { audio: { kind: "process", window: "w" } });
  const started = await agent.start(options);
  assert.deepEqual(
    started.warnings.map((w) => [w.code, w.message]),
    [
      ["application-sound-unavailable", "son du jeu seul indisponible : la vidéo sera muette"],
      ["aac-encoder-unavailable", "encodeur AAC indisponible : la vidéo sera muette"],
    ],
  );
  assert.ok(started.warnings[0] instanceof AgentError);
  assert.equal((await agent.stop()).code, 0);

  // An encoder the engine refuses, named: no fallback, the start fails after the sound's error.
  const failed = await agent.start({ ...options, encoder: "jim_nvenc" }).catch((error: AgentError) => error);
  assert.ok(failed instanceof AgentError);
  assert.deepEqual(
    [failed.code, failed.message, failed.warnings?.map((w) => w.code)],
    ["no-h264-encoder", "aucun encodeur H.264 disponible", ["application-sound-unavailable"]],
  );
  // Nothing runs after a fatal error.
  await assert.rejects(agent.stop(), { code: "not-recording" });
  assert.deepEqual(await agent.quit(), { finished: null, code: 0 });
});

test(
  "a newer agent's messages count by their place; a line that is not JSON is reported and skipped",
  limit,
  async (t) => {
    // Lines this agent never writes, where it writes its own.
    const made = tree(t, {
      fake: { FAKE_OBS_REFUSE: "source:window_capture" },
      output: [
        '/"event":"started"/i {"event":"error","message":"avertissement nouveau"}',
        '/"event":"started"/i Module de test: pas du JSON {',
        "s/aucune source d.image disponible/échec nouveau/",
      ].join("\n"),
    });
    const agent = await spawn(t, made);
    await assert.rejects(agent.start(startOptions(made.root)), { code: "unknown", message: "échec nouveau" });
    const reported = next(agent, "error");
    const started = await agent.start(startOptions(made.root, { source: { kind: "monitor", monitor: "0" } }));
    assert.deepEqual(
      started.warnings.map((w) => [w.code, w.message]),
      [["unknown", "avertissement nouveau"]],
    );
    assert.deepEqual(
      [(await reported).code, (await reported).line],
      ["unreadable-line", "Module de test: pas du JSON {"],
    );
    // Each answer went to its own command: the stop is answered by "finished".
    assert.equal((await agent.stop()).code, 0);
    assert.equal((await agent.quit()).code, 0);
  },
);

test("an agent that dies mid-recording rejects what waits and what comes, and says so", limit, async (t) => {
  const made = tree(t, { fake: { FAKE_OBS_STOP_DELAY_MS: "60000" } });
  const agent = await spawn(t, made);
  await agent.start(startOptions(made.root));
  const exit = next(agent, "exit");
  const stopping = agent.stop();
  const waiting = agent.stats();
  process.kill(agent.pid!, "SIGKILL");
  for (const pending of [stopping, waiting])
    await assert.rejects(pending, { code: "agent-exited", exitCode: null, signal: "SIGKILL" });
  assert.deepEqual(await exit, { code: null, signal: "SIGKILL", bye: false });
  await assert.rejects(agent.save(), { code: "agent-exited" });
  await assert.rejects(agent.quit(), { code: "agent-exited" });
});

test("a missed deadline ends the agent properly: input closed, the recording stopped", limit, async (t) => {
  const made = tree(t, { fake: { FAKE_OBS_STOP_DELAY_MS: "1500" } });
  const agent = await spawn(t, made, { stop: 100 });
  await agent.start(startOptions(made.root, { mode: "file" }));
  const exit = next(agent, "exit");
  const stopping = agent.stop();
  const waiting = agent.stats();
  await assert.rejects(stopping, { code: "timeout" });
  await assert.rejects(waiting, { code: "agent-ended" });
  // Its input closed, the agent finishes the stop it had begun and ends normally.
  assert.deepEqual(await exit, { code: 0, signal: null, bye: true });
});

test("a failed bring-up rejects with the agent's error and its exit code", limit, async (t) => {
  const refused = tree(t, { fake: { FAKE_OBS_STARTUP: "fail" } });
  const expected = { code: "engine-refused-startup", message: "libobs ne démarre pas", exitCode: 3 };
  await assert.rejects(spawn(t, refused), expected);
  await assert.rejects(Agent.list(refused.agent, { env: refused.env }), expected);

  const missing = tree(t);
  unlinkSync(path.join(missing.root, "bin", "64bit", "obs.so"));
  await assert.rejects(spawn(t, missing), { code: "engine-library-unusable", exitCode: 2 });
  await assert.rejects(Agent.spawn(path.join(missing.root, "absent")), { code: "spawn-failed" });
});

test("version() and list() run the agent with --version and --list", limit, async (t) => {
  const made = tree(t, {
    fake: { FAKE_OBS_LIST: "monitor_capture|monitor_id|Écran 1|0\nwindow_capture|window|[jeu.exe]: Jeu|Jeu:W:jeu.exe" },
  });
  const version = await Agent.version(made.agent, { env: made.env });
  assert.match(version.commit, /^([0-9a-f]{7,}(-dirty)?|unknown)$/);
  assert.match(version.version, /^\d+\.\d+\.\d+$/);
  assert.deepEqual(await Agent.list(made.agent, { env: made.env }), {
    monitors: [{ name: "Écran 1", value: "0" }],
    windows: [{ name: "[jeu.exe]: Jeu", value: "Jeu:W:jeu.exe" }],
  });
  // An older agent takes no option: it starts a session, which ends with its input.
  const older = path.join(made.root, "older");
  writeFileSync(older, `#!/bin/sh\nexec "${made.agent}"\n`, { mode: 0o755 });
  await assert.rejects(Agent.list(older, { env: made.env }), { code: "not-supported" });
});
