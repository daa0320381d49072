// Generated from docs/commands.schema.json by scripts/generate-types.mjs: do not edit.

/**
 * One line written on the agent's standard input. Integers must be written without fraction or exponent (30, not 30.0), which JSON Schema cannot express; members not listed are ignored by the agent.
 */
export type CommandLine =
  StartCommand | MaskCommand | BareCommand | StartCommandArray | MaskCommandArray | BareCommandArray;
/**
 * any other text is refused: "mode inconnu : <mode> (attendu : file, replay ou both)"
 */
export type RecordingMode = "file" | "replay" | "both";
/**
 * a string; null means none, as an absent member does
 */
export type OptionalString = string | null;
export type CaptureSource =
  | {
      kind: "window" | 0;
      window: string;
    }
  | {
      kind: "monitor" | 1;
      monitor: string;
      /**
       * 2 tries the WGC method first; any other value or none, DXGI first
       */
      method?: I64 | null;
      window?: OptionalString;
    }
  | [unknown, unknown, ...unknown[]]
  | [unknown, unknown, unknown, ...unknown[]]
  | [unknown, unknown, unknown, unknown, ...unknown[]];
export type I64 = number;
export type U32 = number;
export type AudioCapture =
  | {
      kind: "process" | 0;
      window: string;
    }
  | {
      kind: "desktop" | 1 | "none" | 2;
    }
  | [unknown, unknown, ...unknown[]]
  | [unknown, ...unknown[]];
/**
 * the start command in array form: the tag, then the members in declaration order; the last three may be left out
 */
export type StartCommandArray =
  | [
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      ...unknown[]
    ]
  | [
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      ...unknown[]
    ]
  | [
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      ...unknown[]
    ]
  | [
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      unknown,
      ...unknown[]
    ];
/**
 * @minItems 2
 * @maxItems 2
 */
export type MaskCommandArray = [unknown, unknown, ...unknown[]];
/**
 * @minItems 1
 * @maxItems 1
 */
export type BareCommandArray = [unknown, ...unknown[]];

export interface StartCommand {
  cmd: "start";
  mode: RecordingMode;
  path: string;
  replayDir?: OptionalString;
  source: CaptureSource;
  baseWidth: U32;
  baseHeight: U32;
  width: U32;
  height: U32;
  fps: U32;
  bitrate: U32;
  audio: AudioCapture;
  replaySeconds?: number;
  replayMaxMb?: number;
  encoder?: OptionalString;
}
export interface MaskCommand {
  cmd: "mask";
  hidden: boolean;
}
export interface BareCommand {
  cmd: "save" | "stop" | "stats" | "quit";
}
