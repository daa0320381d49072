// A running kalto-obs agent: commands as promises, answers matched in order,
// the reference's deadlines, and the agent's death told from its normal end.
import { spawn, type ChildProcess } from "node:child_process";
import { EventEmitter } from "node:events";
import { AgentError, errorFromMessage, isNonFatal } from "./errors";
import { defaultDeadlines, type Deadlines } from "./deadlines";
import { LastLines, readLines } from "./lines";
import { runWithFlag, type RunOptions } from "./run-once";
import type { BlackEvent, FinishedEvent, ReadyEvent, SavedEvent, SourceEvent, StatsEvent } from "./schema/events";
import type { TargetList } from "./schema/list";
import type { AgentExit, AgentVersion, QuitResult, StartOptions, StartResult } from "./types";

export interface SpawnOptions {
  // The agent makes its own folder its current folder; `cwd` matters for nothing else.
  cwd?: string;
  env?: NodeJS.ProcessEnv;
  // Shorter or longer waits than the reference's (milliseconds).
  deadlines?: Partial<Deadlines>;
}

export interface AgentEvents {
  // The picture stayed black and the next capture method took over.
  source: [event: SourceEvent];
  // The picture stayed black with every capture method (once per recording).
  black: [event: BlackEvent];
  // The replay buffer wrote a file (whether or not `save()` still waits for it).
  saved: [event: SavedEvent];
  // An error no command answers for, or a line that is not an event. Dropped
  // when nobody listens: none of them ends the session.
  error: [error: AgentError];
  // The process ended; `bye` false means it died.
  exit: [exit: AgentExit];
}

// An event line as read: its kind, and members this client trusts the agent for.
type Line = { event: string; [member: string]: unknown };

// Sees each event written while its command is being answered; true once the answer is whole.
type Take = (event: Line) => boolean;

interface Settle<T> {
  resolve(value: T): void;
  reject(error: AgentError): void;
}

// One command from its first line written to its last answer read.
interface Exchange {
  deadline(): number;
  begin(): Take;
  // The deadline passed.
  expire(): void;
  // The process ended while this was being answered.
  closed(exit: AgentExit): void;
  // Never sent: the agent is gone or going.
  refuse(error: AgentError): void;
}

export class Agent {
  private ready!: ReadyEvent;
  private readonly events = new EventEmitter();
  private readonly diagnostics = new LastLines();
  private readonly queue: Exchange[] = [];
  private current: Exchange | null = null;
  private take: Take = () => false;
  private timer: NodeJS.Timeout | undefined;
  private killTimer: NodeJS.Timeout | undefined;
  // Whether a recording runs, from "started" to "finished".
  private recording = false;
  private byeSeen = false;
  private exit: AgentExit | null = null;
  // Once set, commands are refused with it.
  private refusal: AgentError | null = null;
  private quitting: Promise<QuitResult> | null = null;

  private constructor(
    private readonly child: ChildProcess,
    private readonly deadlines: Deadlines,
  ) {
    // A write to an agent that has died fails; its end is told by the closing of its output.
    child.stdin?.on("error", () => {});
    readLines(child.stdout!, (line) => this.onLine(line));
    readLines(child.stderr!, (line) => this.diagnostics.add(line));
    child.on("error", (error) => this.onSpawnError(error));
    child.on("exit", (code, signal) => {
      // Its output ends with it, unless a process it started still holds it (an older
      // agent's muxer did): the end is then the exit, once its last lines are read.
      setTimeout(() => this.onEnd(code, signal), 2000).unref();
    });
    child.on("close", (code, signal) => this.onEnd(code, signal));
  }

  // Starts the agent; resolves once it is "ready", rejects with its bring-up
  // error (and exit code) when it cannot start.
  static spawn(executable: string, options: SpawnOptions = {}): Promise<Agent> {
    const deadlines = { ...defaultDeadlines, ...options.deadlines };
    const child = spawn(executable, [], {
      cwd: options.cwd,
      env: options.env,
      stdio: "pipe",
      windowsHide: true, // no console window beside an Electron application
    });
    const agent = new Agent(child, deadlines);
    return agent.bringUp(executable);
  }

  // The monitors and windows the agent can capture here (`kalto-obs --list`).
  static list(executable: string, options: RunOptions = {}): Promise<TargetList> {
    return runWithFlag(executable, "--list", defaultDeadlines.ready, options) as Promise<TargetList>;
  }

  // The agent's own version (`kalto-obs --version`); `agent.version` is the engine's.
  static version(executable: string, options: RunOptions = {}): Promise<AgentVersion> {
    return runWithFlag(executable, "--version", defaultDeadlines.answer, options) as Promise<AgentVersion>;
  }

  // The plug-in modules the engine loaded, in load order.
  get modules(): string[] {
    return this.ready.modules;
  }

  // Every encoder type the engine offers.
  get encoders(): string[] {
    return this.ready.encoders;
  }

  // The engine's version (libobs), not the agent's.
  get version(): string {
    return this.ready.version;
  }

  get pid(): number | undefined {
    return this.child.pid;
  }

  on<K extends keyof AgentEvents>(name: K, listener: (...args: AgentEvents[K]) => void): this {
    this.events.on(name, listener as (...args: unknown[]) => void);
    return this;
  }

  once<K extends keyof AgentEvents>(name: K, listener: (...args: AgentEvents[K]) => void): this {
    this.events.once(name, listener as (...args: unknown[]) => void);
    return this;
  }

  off<K extends keyof AgentEvents>(name: K, listener: (...args: AgentEvents[K]) => void): this {
    this.events.off(name, listener as (...args: unknown[]) => void);
    return this;
  }

  // Starts a recording: resolves on "started" with the non-fatal errors that
  // came before it; rejects with the fatal one.
  start(options: StartOptions): Promise<StartResult> {
    return this.enqueue<StartResult>(
      "start",
      () => this.deadlines.start,
      (settle) => {
        const warnings: AgentError[] = [];
        // A message this client does not know is fatal unless "started" follows;
        // the "stats" asked after it is answered only once the start is over.
        let unknown: AgentError | null = null;
        let fenced = false;
        let settled = false;
        this.write({ cmd: "start", ...options });
        return (event) => {
          if (settled) return event.event === "stats" || event.event === "error";
          if (event.event === "started") {
            if (unknown) warnings.push(unknown);
            this.recording = true;
            settle.resolve({ ...(event as unknown as StartResult), warnings });
            settled = true;
            return !fenced;
          }
          if (event.event !== "error") return false;
          const error = errorFromMessage(event.message as string);
          if (fenced && error.code === "not-recording") {
            settle.reject(errorFromMessage(unknown!.message, { warnings }));
            return true;
          }
          if (isNonFatal(error)) {
            warnings.push(error);
            return false;
          }
          if (error.code === "unknown") {
            if (unknown) warnings.push(unknown);
            unknown = error;
            if (!fenced) this.write({ cmd: "stats" });
            fenced = true;
            return false;
          }
          if (unknown) warnings.push(unknown);
          settle.reject(errorFromMessage(error.message, { warnings }));
          settled = true;
          return !fenced;
        };
      },
    );
  }

  stats(): Promise<StatsEvent> {
    return this.enqueue<StatsEvent>(
      "stats",
      () => this.deadlines.answer,
      (settle) => {
        this.write({ cmd: "stats" });
        return (event) => this.answer(event, "stats", settle);
      },
    );
  }

  // Asks the replay buffer for a file; resolves on "saved" with its path. The
  // next command waits for it (a save left without "saved" fails after 30 s).
  save(): Promise<SavedEvent> {
    return this.enqueue<SavedEvent>(
      "save",
      () => this.deadlines.saved,
      (settle) => {
        this.write({ cmd: "save" });
        return (event) => this.answer(event, "saved", settle);
      },
      // A replay buffer that failed earlier drops the request silently: the agent is fine.
      { endsAgent: false },
    );
  }

  // Hides or shows the picture; resolves once the agent has done it.
  mask(hidden: boolean): Promise<void> {
    return this.enqueue<void>(
      "mask",
      () => this.deadlines.answer,
      (settle) => {
        // A mask is answered by nothing when it succeeds: the "stats" after it
        // is answered once the mask is in force.
        this.write({ cmd: "mask", hidden });
        this.write({ cmd: "stats" });
        let refused: AgentError | null = null;
        return (event) => {
          if (event.event === "stats") {
            if (refused) settle.reject(refused);
            else settle.resolve();
            return true;
          }
          if (event.event !== "error") return false;
          if (refused) {
            settle.reject(refused);
            return true;
          }
          refused = errorFromMessage(event.message as string);
          return false;
        };
      },
    );
  }

  // Ends the recording; resolves on "finished" (at most 25 s).
  stop(): Promise<FinishedEvent> {
    const deadline = () => (this.recording ? this.deadlines.stop : this.deadlines.answer);
    return this.enqueue<FinishedEvent>("stop", deadline, (settle) => {
      this.write({ cmd: "stop" });
      return (event) => {
        if (event.event === "finished") this.recording = false;
        return this.answer(event, "finished", settle);
      };
    });
  }

  // Ends the agent as the reference asks: "quit" and its input closed. A
  // recording running is stopped first. Resolves once the process has ended
  // after "bye"; kills it when it has not within a minute.
  quit(): Promise<QuitResult> {
    if (this.quitting) return this.quitting;
    const quitting = new Promise<QuitResult>((resolve, reject) => {
      let finished: FinishedEvent | null = null;
      this.push({
        deadline: () => this.deadlines.bye,
        begin: () => {
          this.write({ cmd: "quit" });
          this.child.stdin?.end();
          return (event) => {
            if (event.event === "finished") {
              finished = event as unknown as FinishedEvent;
              this.recording = false;
            }
            return false; // answered by the end of the process
          };
        },
        expire: () => {
          this.child.kill("SIGKILL");
          reject(
            new AgentError(
              "timeout",
              `l'agent ne s'est pas arrêté ${seconds(this.deadlines.bye)} après « quit » : tué`,
            ),
          );
        },
        closed: (exit) => {
          if (exit.bye) resolve({ finished, code: exit.code });
          else reject(this.exitError(exit));
        },
        refuse: reject,
      });
    });
    this.quitting = quitting;
    this.refusal ??= new AgentError("agent-ended", "l'agent s'arrête : plus aucune commande n'est envoyée");
    return quitting;
  }

  private bringUp(executable: string): Promise<Agent> {
    return new Promise<Agent>((resolve, reject) => {
      let failure: AgentError | null = null;
      this.push({
        deadline: () => this.deadlines.ready,
        begin: () => (event) => {
          if (event.event === "ready") {
            this.ready = event as unknown as ReadyEvent;
            resolve(this);
            return true;
          }
          // A failed bring-up writes its error, then the process ends with code 2 or 3.
          if (event.event === "error") failure ??= errorFromMessage(event.message as string);
          return false;
        },
        expire: () => {
          // Nothing is recorded before "ready": ending the process loses nothing.
          this.child.kill("SIGKILL");
          reject(new AgentError("timeout", `pas de « ready » de ${executable} en ${seconds(this.deadlines.ready)}`));
        },
        closed: (exit) => {
          if (!failure) return reject(this.exitError(exit));
          const details = { exitCode: exit.code, signal: exit.signal, diagnostics: this.diagnostics.lines };
          reject(errorFromMessage(failure.message, details));
        },
        refuse: reject,
      });
    });
  }

  // Settles on the event `kind`, or on an error.
  private answer<T>(event: Line, kind: string, settle: Settle<T>): boolean {
    if (event.event === kind) settle.resolve(event as unknown as T);
    else if (event.event === "error") settle.reject(errorFromMessage(event.message as string));
    else return false;
    return true;
  }

  private enqueue<T>(
    name: string,
    deadline: () => number,
    begin: (settle: Settle<T>) => Take,
    { endsAgent = true } = {},
  ): Promise<T> {
    return new Promise<T>((resolve, reject) => {
      this.push({
        deadline,
        begin: () => begin({ resolve, reject }),
        expire: () => {
          reject(new AgentError("timeout", `pas de réponse à « ${name} » en ${seconds(deadline())}`));
          if (endsAgent) this.abandon(name);
          else this.next();
        },
        closed: (exit) => reject(this.exitError(exit)),
        refuse: reject,
      });
    });
  }

  private push(exchange: Exchange): void {
    if (this.refusal) {
      exchange.refuse(this.refusal);
      return;
    }
    this.queue.push(exchange);
    if (!this.current) this.next();
  }

  // Sends the next command once the one before it is answered: the agent
  // handles them one at a time, and answers them in order.
  private next(): void {
    clearTimeout(this.timer);
    this.current = this.queue.shift() ?? null;
    this.take = () => false;
    const exchange = this.current;
    if (!exchange) return;
    this.timer = setTimeout(() => exchange.expire(), exchange.deadline());
    this.take = exchange.begin();
  }

  // An agent that misses a deadline is not answering as it should: no more
  // commands; its input is closed, so that it stops a recording properly,
  // and it is killed if it has not ended a minute later.
  private abandon(name: string): void {
    clearTimeout(this.timer);
    const error = new AgentError("agent-ended", `l'agent n'a pas répondu à « ${name} » : il est arrêté`);
    this.refusal = error;
    for (const waiting of this.queue.splice(0)) waiting.refuse(error);
    this.child.stdin?.end();
    this.killTimer = setTimeout(() => this.child.kill("SIGKILL"), this.deadlines.bye);
  }

  private write(command: object): void {
    this.child.stdin?.write(JSON.stringify(command) + "\n");
  }

  private onLine(text: string): void {
    if (text.trim() === "") return;
    let event: unknown;
    try {
      event = JSON.parse(text);
    } catch {
      event = undefined;
    }
    if (!isEventLine(event)) {
      // Not the agent's (an engine plug-in writing on standard output): shown, then skipped.
      this.diagnostics.add(text);
      this.report(
        new AgentError("unreadable-line", `ligne illisible sur la sortie de l'agent : ${text.slice(0, 200)}`, {
          line: text,
        }),
      );
      return;
    }
    switch (event.event) {
      case "source":
      case "black":
        this.events.emit(event.event, event);
        return;
      case "saved":
        this.events.emit("saved", event);
        break;
      case "bye":
        this.byeSeen = true;
        break;
    }
    if (this.current) {
      if (this.take(event)) this.next();
    } else if (event.event === "error") {
      this.report(errorFromMessage(event.message as string));
    }
  }

  private report(error: AgentError): void {
    if (this.events.listenerCount("error") > 0) this.events.emit("error", error);
  }

  private onSpawnError(error: Error): void {
    if (this.child.pid !== undefined) return; // the process runs: its end is told by "close"
    const failure = new AgentError("spawn-failed", `impossible de lancer l'agent : ${error.message}`);
    this.refusal = failure;
    clearTimeout(this.timer);
    this.current?.refuse(failure);
    this.current = null;
    for (const waiting of this.queue.splice(0)) waiting.refuse(failure);
  }

  private onEnd(code: number | null, signal: NodeJS.Signals | null): void {
    if (this.exit || this.child.pid === undefined) return;
    const exit: AgentExit = { code, signal, bye: this.byeSeen };
    this.exit = exit;
    clearTimeout(this.timer);
    clearTimeout(this.killTimer);
    const error = this.exitError(exit);
    this.refusal = exit.bye ? new AgentError("agent-ended", "l'agent s'est arrêté") : error;
    const current = this.current;
    this.current = null;
    current?.closed(exit);
    for (const waiting of this.queue.splice(0)) waiting.refuse(this.refusal!);
    this.events.emit("exit", exit);
  }

  private exitError(exit: AgentExit): AgentError {
    const how = exit.signal ? `signal ${exit.signal}` : `code ${exit.code}`;
    const text = exit.bye ? `l'agent s'est arrêté (${how})` : `l'agent s'est arrêté sans « bye » (${how})`;
    return new AgentError(exit.bye ? "agent-ended" : "agent-exited", text, {
      exitCode: exit.code,
      signal: exit.signal,
      diagnostics: this.diagnostics.lines,
    });
  }
}

function isEventLine(value: unknown): value is Line {
  return typeof value === "object" && value !== null && typeof (value as Line).event === "string";
}

function seconds(milliseconds: number): string {
  return `${milliseconds / 1000} s`;
}
