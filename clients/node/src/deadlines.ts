// The longest silences the reference allows before a controller concludes that
// something is wrong (its section "Faults, silences and ending the agent").

export interface Deadlines {
  // Milliseconds.
  ready: number; // "ready" after the start of the process
  start: number; // the answer to "start"
  answer: number; // "stats", an error, or a mask taking effect
  saved: number; // "saved" after "save"
  stop: number; // "finished" after "stop", whatever the mode
  bye: number; // "bye" after "quit"; the agent is killed after it
}

export const defaultDeadlines: Deadlines = {
  ready: 30_000,
  start: 30_000,
  answer: 10_000,
  saved: 30_000,
  stop: 30_000,
  bye: 60_000,
};
