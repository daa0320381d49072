// Compiles the protocol's JSON Schemas with Ajv 8 (draft 2020-12) in
// strict mode, as a Node or Electron controller would, and validates a few
// lines against them so that a schema that compiles but accepts nothing shows.
// Usage: node check.js <docs folder>
"use strict";
const fs = require("fs");
const path = require("path");
const Ajv2020 = require("ajv/dist/2020");

const docs = process.argv[2];
if (!docs) {
  console.error("usage: node check.js <docs folder>");
  process.exit(2);
}
const load = (name) => JSON.parse(fs.readFileSync(path.join(docs, name), "utf8"));

const samples = {
  "commands.schema.json": {
    good: [
      { cmd: "start", mode: "file", path: "v.mp4", source: { kind: "monitor", monitor: "0" },
        baseWidth: 1920, baseHeight: 1080, width: 1280, height: 720, fps: 30, bitrate: 6000,
        audio: { kind: "none" } },
      ["start", "both", "v.mp4", null, ["monitor", "0", 2], 1920, 1080, 1280, 720, 30, 6000,
        ["desktop"], 30],
      ["mask", true],
      { cmd: "quit" },
    ],
    bad: [["mask"], { cmd: "mask" }, ["stop", 1], { cmd: "start" },
      { cmd: "start", mode: "FILE", path: "v.mp4", source: { kind: "monitor", monitor: "0" },
        baseWidth: 1920, baseHeight: 1080, width: 1280, height: 720, fps: 30, bitrate: 6000,
        audio: { kind: "none" } }],
  },
  "events.schema.json": {
    good: [
      { brightness: null, darkSeconds: 0.0, dropped: 0, encoded: 3, event: "stats", examined: 0,
        fps: null, lagged: 0, rendered: 3, seconds: null, source: "écran DXGI" },
      { event: "bye" },
    ],
    bad: [{ event: "stats" }, { event: "bye", extra: 1 }, { event: "nouveau" }],
  },
  "list.schema.json": {
    good: [
      { monitors: [{ name: "Écran 1", value: "\\\\.\\DISPLAY1" }],
        windows: [{ name: "[jeu.exe]: Jeu", value: "Jeu:GameWindow:jeu.exe" }] },
      { monitors: [], windows: [] },
    ],
    bad: [{ monitors: [] }, { monitors: [{ name: "Écran 1" }], windows: [] }],
  },
};

let faults = 0;
for (const [name, { good, bad }] of Object.entries(samples)) {
  const ajv = new Ajv2020({ strict: true, allErrors: true });
  let validate;
  try {
    validate = ajv.compile(load(name));
  } catch (error) {
    console.error(`${name}: refused by Ajv in strict mode: ${error.message}`);
    faults++;
    continue;
  }
  for (const line of good) {
    if (!validate(line)) {
      console.error(`${name}: refuses ${JSON.stringify(line)}: ${ajv.errorsText(validate.errors)}`);
      faults++;
    }
  }
  for (const line of bad) {
    if (validate(line)) {
      console.error(`${name}: accepts ${JSON.stringify(line)}`);
      faults++;
    }
  }
  console.log(`${name}: compiled by Ajv ${require("ajv/package.json").version} in strict mode`);
}
process.exit(faults ? 1 : 0);
