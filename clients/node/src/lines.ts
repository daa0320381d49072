// Cuts a stream of UTF-8 text into lines.
import type { Readable } from "node:stream";

// Calls `onLine` with each line, without its line feed (nor a carriage return
// before it); a last line without a line feed comes when the stream ends.
export function readLines(stream: Readable, onLine: (line: string) => void): void {
  let pending = "";
  stream.setEncoding("utf8"); // a character split between two chunks stays whole
  stream.on("data", (chunk: string) => {
    const lines = (pending + chunk).split("\n");
    pending = lines.pop() ?? "";
    for (const line of lines) onLine(line.endsWith("\r") ? line.slice(0, -1) : line);
  });
  stream.on("end", () => {
    if (pending !== "") onLine(pending);
    pending = "";
  });
}

// The last lines of a stream, for the report of a failure.
export class LastLines {
  private readonly kept: string[] = [];
  constructor(private readonly limit = 40) {}

  add(line: string): void {
    this.kept.push(line);
    if (this.kept.length > this.limit) this.kept.shift();
  }

  get lines(): string[] {
    return [...this.kept];
  }
}
