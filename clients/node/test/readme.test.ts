// The README's Electron recorder, as printed there, run against the agent and
// its fake engine.
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { mkdirSync, readFileSync, symlinkSync, writeFileSync } from "node:fs";
import path from "node:path";
import { test } from "node:test";
import { fakeTree } from "./harness";

const packageFolder = path.resolve(__dirname, "..", "..");

// Electron's main-process API as far as the recorder uses it: the application is
// ready at once, F9 is pressed as soon as it is registered, then the user quits.
const electron = `
const { EventEmitter } = require("node:events");
const app = new EventEmitter();
app.whenReady = () => Promise.resolve();
app.getPath = (name) => process.env.FAKE_ELECTRON_PATHS + "/" + name;
app.exit = (code = 0) => process.exit(code);
process.resourcesPath = process.env.FAKE_ELECTRON_RESOURCES;
const globalShortcut = {
  register(accelerator, callback) {
    setImmediate(() => {
      callback();
      app.emit("will-quit", { preventDefault() {} });
    });
    return true;
  },
};
module.exports = { app, globalShortcut };
`;

function readmeExample(): string {
  const readme = readFileSync(path.join(packageFolder, "README.md"), "utf8");
  const section = readme.slice(readme.indexOf("## An Electron recorder"));
  const found = /```js\n([\s\S]*?)```/.exec(section);
  assert.ok(found, "the README has its Electron recorder");
  return found[1];
}

test("the README's Electron recorder records, saves a clip on F9 and finishes the file on quitting", async (t) => {
  const made = fakeTree({ agentPath: ["resources", "kalto-obs", "bin", "64bit", "kalto-obs.exe"] });
  t.after(made.remove);
  const app = path.join(made.root, "app");
  mkdirSync(path.join(app, "node_modules", "electron"), { recursive: true });
  writeFileSync(path.join(app, "node_modules", "electron", "index.js"), electron);
  symlinkSync(packageFolder, path.join(app, "node_modules", "kalto-obs"));
  writeFileSync(path.join(app, "main.js"), readmeExample());
  const videos = path.join(made.root, "videos");
  mkdirSync(videos);

  const child = spawn(process.execPath, ["main.js"], {
    cwd: app,
    env: { ...made.env, FAKE_ELECTRON_PATHS: made.root, FAKE_ELECTRON_RESOURCES: path.join(made.root, "resources") },
  });
  let out = "";
  let err = "";
  child.stdout.on("data", (chunk) => (out += chunk));
  child.stderr.on("data", (chunk) => (err += chunk));
  const code = await new Promise<number | null>((resolve, reject) => {
    const timer = setTimeout(() => {
      child.kill("SIGKILL");
      reject(new Error(`the recorder did not end; stdout:\n${out}\nstderr:\n${err}`));
    }, 30_000);
    child.on("close", (exitCode) => {
      clearTimeout(timer);
      resolve(exitCode);
    });
  });
  assert.equal(code, 0, err);
  assert.equal(out, `clip ${path.join(videos, "clips", "KALTO_replay_1.mp4")}\n`);
  assert.equal(err, "");
  const journal = made.journal();
  // Both outputs stopped (the file finished) before the engine shut down.
  const stops = journal.filter((line) => line.startsWith("obs_output_stop "));
  assert.equal(stops.length, 2);
  assert.ok(journal.indexOf(stops[1]) < journal.indexOf("obs_shutdown"));
});
