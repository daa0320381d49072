// Runs the agent with one command-line option (--list, --version): one JSON
// line on standard output, then the end of the process.
import { spawn } from "node:child_process";
import { AgentError, errorFromMessage } from "./errors";
import { LastLines, readLines } from "./lines";

export interface RunOptions {
  cwd?: string;
  env?: NodeJS.ProcessEnv;
  // Milliseconds before the agent is killed; 30 s for --list (the engine starts), 10 s for --version.
  deadline?: number;
}

export function runWithFlag(executable: string, flag: string, deadline: number, options: RunOptions): Promise<object> {
  return new Promise((resolve, reject) => {
    // No input: an agent that does not know the option starts a session and ends it at once.
    const child = spawn(executable, [flag], {
      cwd: options.cwd,
      env: options.env,
      stdio: ["ignore", "pipe", "pipe"],
      windowsHide: true,
    });
    const lines: string[] = [];
    const diagnostics = new LastLines();
    readLines(child.stdout, (line) => lines.push(line));
    readLines(child.stderr, (line) => diagnostics.add(line));
    const timer = setTimeout(() => {
      child.kill("SIGKILL");
      reject(new AgentError("timeout", `${flag} : pas de fin en ${(options.deadline ?? deadline) / 1000} s`));
    }, options.deadline ?? deadline);
    child.on("error", (error) => {
      clearTimeout(timer);
      reject(new AgentError("spawn-failed", `impossible de lancer l'agent : ${error.message}`));
    });
    child.on("close", (code, signal) => {
      clearTimeout(timer);
      const details = { exitCode: code, signal, diagnostics: diagnostics.lines };
      const first = parse(lines.find((line) => line.trim() !== ""));
      if (first && typeof first.event === "string") {
        // A bring-up that failed writes its error event and exits with 2 or 3.
        if (first.event === "error") return reject(errorFromMessage(String(first.message), details));
        return reject(new AgentError("not-supported", `l'agent ne connaît pas ${flag} : il est plus ancien`, details));
      }
      if (first && code === 0) return resolve(first);
      const how = signal ? `signal ${signal}` : `code ${code}`;
      reject(new AgentError("agent-exited", `${flag} : l'agent s'est arrêté sans réponse (${how})`, details));
    });
  });
}

function parse(line: string | undefined): Record<string, unknown> | null {
  if (line === undefined) return null;
  try {
    const value: unknown = JSON.parse(line);
    return typeof value === "object" && value !== null && !Array.isArray(value)
      ? (value as Record<string, unknown>)
      : null;
  } catch {
    return null;
  }
}
