// Lays out the tree the built agent runs in, with the scripted fake engine
// beside it (or the real engine's installed tree), and waits for events.
import {
  chmodSync,
  copyFileSync,
  existsSync,
  mkdirSync,
  mkdtempSync,
  readFileSync,
  rmSync,
  writeFileSync,
} from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import type { Agent, AgentEvents, StartOptions } from "../src";

export const repository = path.resolve(__dirname, "..", "..", "..", "..");
// The build of the default preset; KALTO_BUILD names another.
export const build = process.env.KALTO_BUILD ?? path.join(repository, "build", "default");
export const realAgent = path.join(build, "real-root", "bin", "64bit", "kalto-obs");

export interface FakeTree {
  root: string;
  agent: string;
  env: NodeJS.ProcessEnv;
  journal(): string[];
  remove(): void;
}

export interface TreeOptions {
  // FAKE_OBS_* variables: the fake engine's script.
  fake?: Record<string, string>;
  // Plug-in modules present in the tree.
  modules?: string[];
  // Where the agent goes, below the tree's root.
  agentPath?: string[];
  // A sed program the agent's standard output goes through (lines no agent writes).
  output?: string;
  // Each command reaches the agent this much later (seconds): a slow agent.
  inputDelay?: number;
}

export function fakeTree(options: TreeOptions = {}): FakeTree {
  const root = mkdtempSync(path.join(tmpdir(), "kalto-node-"));
  const agentPath = options.agentPath ?? ["bin", "64bit", "kalto-obs"];
  const bin = path.join(root, ...agentPath.slice(0, -1));
  mkdirSync(bin, { recursive: true });
  mkdirSync(path.join(root, "tmp"));
  // Copied, not linked: the agent finds the engine beside its own file.
  const agentFile = path.join(bin, agentPath[agentPath.length - 1]);
  copyFileSync(path.join(build, "kalto-obs"), agentFile);
  copyFileSync(path.join(build, "tests", "fakes", "fake_obs", "fake_obs.so"), path.join(bin, "obs.so"));
  // The engine's modules: two levels above the agent's folder, in "core/<name>".
  for (const module of options.modules ?? []) {
    const folder = path.join(bin, "..", "..", "core", module);
    mkdirSync(folder, { recursive: true });
    writeFileSync(path.join(folder, `${module}.so`), "\0");
  }
  let agent = agentFile;
  if (options.output !== undefined || options.inputDelay !== undefined) {
    // The agent keeps the wrapper's process: its exit code and its pid are the agent's.
    const input =
      options.inputDelay === undefined
        ? ""
        : ` < <(while IFS= read -r line; do sleep ${options.inputDelay}; printf '%s\\n' "$line"; done)`;
    const output = options.output === undefined ? "" : ` > >(exec sed -u -e '${options.output}')`;
    agent = path.join(bin, "wrapped");
    writeFileSync(agent, `#!/bin/bash\nexec "$(dirname "$0")/kalto-obs" "$@"${input}${output}\n`);
    chmodSync(agent, 0o755);
  }
  const env: NodeJS.ProcessEnv = {};
  for (const [name, value] of Object.entries(process.env)) if (!name.startsWith("FAKE_OBS_")) env[name] = value;
  Object.assign(env, { FAKE_OBS_JOURNAL: path.join(root, "journal"), TMPDIR: path.join(root, "tmp") }, options.fake);
  return {
    root,
    agent,
    env,
    journal: () => {
      const file = path.join(root, "journal");
      return existsSync(file) ? readFileSync(file, "utf8").split("\n") : [];
    },
    remove: () => {
      if (!process.env.KALTO_KEEP_E2E) rmSync(root, { recursive: true, force: true });
    },
  };
}

// The next `name` event of the agent, within `milliseconds`.
export function next<K extends keyof AgentEvents>(
  agent: Agent,
  name: K,
  milliseconds = 10_000,
): Promise<AgentEvents[K][0]> {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no "${name}" event in ${milliseconds} ms`)), milliseconds);
    agent.once(name, ((value: AgentEvents[K][0]) => {
      clearTimeout(timer);
      resolve(value);
    }) as (...args: AgentEvents[K]) => void);
  });
}

// A start line's members, for a window of the fake engine; `extra` overrides them.
export function startOptions(root: string, extra: Partial<StartOptions> = {}): StartOptions {
  return {
    mode: "both",
    path: path.join(root, "tmp", "video.mkv"),
    replayDir: path.join(root, "tmp", "clips"),
    source: { kind: "window", window: "Jeu:GameWindow:jeu.exe" },
    baseWidth: 1920,
    baseHeight: 1080,
    width: 1280,
    height: 720,
    fps: 30,
    bitrate: 6000,
    audio: { kind: "none" },
    ...extra,
  };
}
