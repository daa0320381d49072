// Writes src/schema/*.ts, the TypeScript types of the protocol's lines, from the
// JSON Schemas in the repository's docs folder.
// Usage: node scripts/generate-types.mjs [--check] [docs folder]
// With --check nothing is written: it fails when a checked-in file differs from
// what the schemas give now.
import { readFile, writeFile } from "node:fs/promises";
import { fileURLToPath } from "node:url";
import path from "node:path";
import { compile } from "json-schema-to-typescript";

const here = path.dirname(fileURLToPath(import.meta.url));
const args = process.argv.slice(2);
const check = args.includes("--check");
const docs = args.find((a) => a !== "--check") ?? path.join(here, "..", "..", "..", "docs");
const out = path.join(here, "..", "src", "schema");

// The names the package exports for the schemas' definitions; the events' own
// names ("error", "source") would shadow the global Error and the command's Source.
const schemas = {
  "commands.schema.json": {
    file: "commands.ts",
    names: {
      "": "CommandLine",
      start: "StartCommand",
      mask: "MaskCommand",
      bare: "BareCommand",
      startArray: "StartCommandArray",
      maskArray: "MaskCommandArray",
      bareArray: "BareCommandArray",
      source: "CaptureSource",
      audio: "AudioCapture",
      u32: "U32",
      mode: "RecordingMode",
      i64: "I64",
      optString: "OptionalString",
      optI64: "OptionalI64",
    },
  },
  "events.schema.json": {
    file: "events.ts",
    names: {
      "": "EventLine",
      ready: "ReadyEvent",
      error: "ErrorEvent",
      started: "StartedEvent",
      source: "SourceEvent",
      black: "BlackEvent",
      stats: "StatsEvent",
      saved: "SavedEvent",
      finished: "FinishedEvent",
      bye: "ByeEvent",
      count: "Count",
      natural: "Natural",
      float: "Float",
    },
  },
  "list.schema.json": {
    file: "list.ts",
    names: { "": "TargetList", target: "Target" },
  },
};

let stale = 0;
for (const [schemaFile, { file, names }] of Object.entries(schemas)) {
  const schema = JSON.parse(await readFile(path.join(docs, schemaFile), "utf8"));
  const typescript = await compile(schema, names[""], {
    bannerComment: `// Generated from docs/${schemaFile} by scripts/generate-types.mjs: do not edit.`,
    // A command member the agent does not know is ignored: a type error catches the typo.
    additionalProperties: false,
    unreachableDefinitions: true,
    unknownAny: true,
    // The array forms of the commands stay arrays; the client writes the object forms.
    maxItems: -1,
    // A definition comes with its key, or with an $id the generator made of it ("Start").
    customName: (definition, key) => {
      if (definition.title === schema.title) return names[""];
      const id = (key ?? definition.$id)?.toLowerCase();
      if (id === undefined) return undefined;
      const found = Object.keys(names).find((name) => name.toLowerCase() === id);
      if (found === undefined) throw new Error(`${schemaFile}: no name for the definition "${id}"`);
      return names[found];
    },
  });
  const target = path.join(out, file);
  if (!check) {
    await writeFile(target, typescript);
    continue;
  }
  const current = await readFile(target, "utf8").catch(() => "");
  if (current !== typescript) {
    console.error(`${path.relative(process.cwd(), target)} differs from docs/${schemaFile}: run npm run generate`);
    stale++;
  }
}
process.exit(stale ? 1 : 0);
