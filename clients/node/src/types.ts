// The client's own types, built on those generated from the protocol's schemas.
import type { AudioCapture, CaptureSource, StartCommand } from "./schema/commands";
import type { FinishedEvent, StartedEvent } from "./schema/events";
import type { AgentError } from "./errors";

// The object forms of "source" and "audio" (the agent also reads arrays; this client writes objects).
export type Source = Exclude<CaptureSource, unknown[]>;
export type Audio = Exclude<AudioCapture, unknown[]>;

// The members of the "start" command.
export type StartOptions = Omit<StartCommand, "cmd" | "source" | "audio"> & {
  source: Source;
  audio: Audio;
};

export interface StartResult extends StartedEvent {
  // The non-fatal errors that came before "started" (the start went on without them).
  warnings: AgentError[];
}

export interface QuitResult {
  // The end of the recording that was running, if one was.
  finished: FinishedEvent | null;
  // The agent's exit code: 0.
  code: number | null;
}

export interface AgentExit {
  code: number | null;
  signal: string | null;
  // True when the agent said "bye": a normal end. False: it died.
  bye: boolean;
}

// What `kalto-obs --version` prints.
export interface AgentVersion {
  commit: string;
  version: string;
}
