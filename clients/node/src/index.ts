// kalto-obs for Node and Electron: start the agent, drive it with promises, listen to its events.
export { Agent } from "./agent";
export type { AgentEvents, SpawnOptions } from "./agent";
export { AgentError } from "./errors";
export type { AgentErrorDetails, AgentMessageCode, ClientCode, ErrorCode } from "./errors";
export { defaultDeadlines } from "./deadlines";
export type { Deadlines } from "./deadlines";
export type { RunOptions } from "./run-once";
export * from "./types";
export * from "./schema/commands";
export * from "./schema/events";
export * from "./schema/list";
