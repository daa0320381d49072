// Every message of the agent has its code, and none of the events schema's is left out.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import path from "node:path";
import { test } from "node:test";
import type { ErrorCode } from "../src";
import { errorFromMessage } from "../src/errors";
import { repository } from "./harness";

// One of each message the reference lists, with its code and the text it carries.
const samples: [message: string, code: ErrorCode, detail?: string][] = [
  [
    "commande illisible : missing field `cmd` at line 1 column 2",
    "unreadable-command",
    "missing field `cmd` at line 1 column 2",
  ],
  ["un enregistrement est déjà en cours", "already-recording"],
  ["aucun enregistrement en cours", "not-recording"],
  ["aucun tampon de replay en cours", "no-replay-buffer"],
  ["sauvegarde du replay refusée", "save-refused"],
  ["vidéo : réinitialisation refusée (code -17)", "video-reset-refused", "-17"],
  ["aucune source d'image disponible", "no-capture-source"],
  ["son du jeu seul indisponible : la vidéo sera muette", "application-sound-unavailable"],
  ["aucun encodeur H.264 disponible", "no-h264-encoder"],
  ["encodeur AAC indisponible : la vidéo sera muette", "aac-encoder-unavailable"],
  ["encodeur jim_nvenc inutilisable : NVENC inutilisable : pilote trop ancien", "encoder-unusable", "jim_nvenc"],
  ["mode inconnu : File (attendu : file, replay ou both)", "unknown-mode", "File"],
  ["une sortie précédente tourne encore : redémarrez l'agent", "output-still-running"],
  ["sortie ffmpeg_muxer indisponible", "output-unavailable", "ffmpeg_muxer"],
  ["sortie replay_buffer indisponible", "output-unavailable", "replay_buffer"],
  ["démarrage refusé : ", "start-refused", ""],
  ["démarrage refusé : Impossible d’écrire dans /x", "start-refused", "Impossible d’écrire dans /x"],
  ["obs.dll introuvable ou incomplète : obs_startup absente", "engine-library-unusable", "obs_startup absente"],
  ["obs.so introuvable ou incomplète : no such file", "engine-library-unusable", "no such file"],
  ["libobs ne démarre pas", "engine-refused-startup"],
  ["son : initialisation refusée", "audio-setup-refused"],
  ["Direct3D 11 : initialisation refusée (code -2)", "video-setup-refused", "-2"],
  ["OpenGL : initialisation refusée (code -1)", "video-setup-refused", "-1"],
  ["un message d'une version à venir", "unknown"],
];

test("each message of the agent gets its code and the text it carries", () => {
  for (const [message, code, detail] of samples) {
    const error = errorFromMessage(message);
    assert.deepEqual([error.code, error.message, error.detail], [code, message, detail], message);
  }
});

test("every message the events schema allows has a code", () => {
  const schema = JSON.parse(readFileSync(path.join(repository, "docs", "events.schema.json"), "utf8"));
  for (const branch of schema.$defs.error.properties.message.anyOf) {
    for (const value of branch.enum ?? []) assert.notEqual(errorFromMessage(value).code, "unknown", value);
    if (branch.pattern === undefined) continue;
    const pattern = new RegExp(branch.pattern, "u");
    const known = samples.filter(([message, code]) => code !== "unknown" && pattern.test(message));
    assert.ok(known.length > 0, `no sample of the schema's message ${branch.pattern}`);
  }
});
