// The longest silences the reference allows before a controller concludes that
// something is wrong (its section "Faults, silences and ending the agent").
import type { RecordingMode } from "./schema/commands";

export interface Deadlines {
  // Milliseconds.
  ready: number; // "ready" after the start of the process
  start: number; // the answer to "start"
  answer: number; // "stats", an error, or a mask taking effect
  saved: number; // "saved" after "save"
  stopPerOutput: number; // "finished" after "stop": this much per output of the recording,
  stopMargin: number; // plus this
  bye: number; // "bye" after "quit"; the agent is killed after it
}

export const defaultDeadlines: Deadlines = {
  ready: 30_000,
  start: 30_000,
  answer: 10_000,
  saved: 30_000,
  stopPerOutput: 20_000,
  stopMargin: 5_000,
  bye: 60_000,
};

// 25 s for one output, 45 s for two (mode "both"), as the reference allows.
export function stopDeadline(deadlines: Deadlines, mode: RecordingMode): number {
  return deadlines.stopPerOutput * (mode === "both" ? 2 : 1) + deadlines.stopMargin;
}
