// Generated from docs/events.schema.json by scripts/generate-types.mjs: do not edit.

/**
 * One line read from the agent's standard output: an object with exactly the members of its kind, printed sorted by name. Later versions of the agent may add members and kinds of event: a controller should ignore what it does not know (this schema, strict about the current version, does not).
 */
export type EventLine = {
  event: "ready" | "error" | "started" | "source" | "black" | "stats" | "saved" | "finished" | "bye";
};
/**
 * This interface was referenced by `undefined`'s JSON-Schema
 * via the `definition` "count".
 */
export type Count = number;
/**
 * a number, always written with a fraction (30.0); null when the engine's figure is not finite
 *
 * This interface was referenced by `undefined`'s JSON-Schema
 * via the `definition` "float".
 */
export type Float = number | null;
/**
 * This interface was referenced by `undefined`'s JSON-Schema
 * via the `definition` "natural".
 */
export type Natural = number;

/**
 * This interface was referenced by `undefined`'s JSON-Schema
 * via the `definition` "ready".
 */
export interface ReadyEvent {
  encoders: string[];
  event: "ready";
  modules: string[];
  version: string;
}
/**
 * This interface was referenced by `undefined`'s JSON-Schema
 * via the `definition` "error".
 */
export interface ErrorEvent {
  event: "error";
  message: (
    | {
        [k: string]: unknown;
      }
    | (
        | "un enregistrement est déjà en cours"
        | "une sortie précédente tourne encore : redémarrez l'agent"
        | "aucun enregistrement en cours"
        | "aucun tampon de replay en cours"
        | "sauvegarde du replay refusée"
        | "aucune source d'image disponible"
        | "son du jeu seul indisponible : la vidéo sera muette"
        | "aucun encodeur H.264 disponible"
        | "encodeur AAC indisponible : la vidéo sera muette"
        | "sortie ffmpeg_muxer indisponible"
        | "sortie replay_buffer indisponible"
        | "libobs ne démarre pas"
        | "son : initialisation refusée"
      )
  ) &
    string;
}
/**
 * This interface was referenced by `undefined`'s JSON-Schema
 * via the `definition` "started".
 */
export interface StartedEvent {
  encoder: string;
  event: "started";
  mode: "file" | "replay" | "both";
  path: string;
  source: string;
}
/**
 * This interface was referenced by `undefined`'s JSON-Schema
 * via the `definition` "source".
 */
export interface SourceEvent {
  event: "source";
  reason: string;
  source: string;
}
/**
 * This interface was referenced by `undefined`'s JSON-Schema
 * via the `definition` "black".
 */
export interface BlackEvent {
  event: "black";
  message: string;
}
/**
 * This interface was referenced by `undefined`'s JSON-Schema
 * via the `definition` "stats".
 */
export interface StatsEvent {
  brightness: Float;
  darkSeconds: Float;
  dropped: Count;
  encoded: Count;
  event: "stats";
  examined: Natural;
  fps: Float;
  lagged: Natural;
  rendered: Natural;
  seconds: Float;
  source: string;
}
/**
 * This interface was referenced by `undefined`'s JSON-Schema
 * via the `definition` "saved".
 */
export interface SavedEvent {
  event: "saved";
  path: string;
}
/**
 * This interface was referenced by `undefined`'s JSON-Schema
 * via the `definition` "finished".
 */
export interface FinishedEvent {
  code: number;
  encoder: string;
  error: string | null;
  event: "finished";
  mode: "file" | "replay" | "both";
  path: string | null;
  stats: StatsEvent;
}
/**
 * This interface was referenced by `undefined`'s JSON-Schema
 * via the `definition` "bye".
 */
export interface ByeEvent {
  event: "bye";
}
