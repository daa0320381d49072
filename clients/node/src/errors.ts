// The agent's error messages, each with a code of its own, and the client's own failures.

// One code per message the agent writes in an "error" event.
export type AgentMessageCode =
  | "unreadable-command" // "commande illisible : <fault>"
  | "already-recording" // "un enregistrement est déjà en cours"
  | "not-recording" // "aucun enregistrement en cours"
  | "no-replay-buffer" // "aucun tampon de replay en cours"
  | "save-refused" // "sauvegarde du replay refusée"
  | "video-reset-refused" // "vidéo : réinitialisation refusée (code <n>)"
  | "no-capture-source" // "aucune source d'image disponible"
  | "application-sound-unavailable" // "son du jeu seul indisponible : la vidéo sera muette" (non-fatal)
  | "no-h264-encoder" // "aucun encodeur H.264 disponible"
  | "aac-encoder-unavailable" // "encodeur AAC indisponible : la vidéo sera muette" (non-fatal)
  | "encoder-unusable" // "encodeur <id> inutilisable : <text>" (non-fatal)
  | "unknown-mode" // "mode inconnu : <mode> (attendu : file, replay ou both)"
  | "output-still-running" // "une sortie précédente tourne encore : redémarrez l'agent"
  | "output-unavailable" // "sortie <id> indisponible"
  | "start-refused" // "démarrage refusé : <text>"
  | "engine-library-unusable" // "obs.dll introuvable ou incomplète : <text>" (obs.so on Linux)
  | "engine-refused-startup" // "libobs ne démarre pas"
  | "audio-setup-refused" // "son : initialisation refusée"
  | "video-setup-refused" // "Direct3D 11 : initialisation refusée (code <n>)" (OpenGL on Linux)
  | "unknown"; // a message this client does not know (a newer agent's)

// What the client itself finds.
export type ClientCode =
  | "agent-exited" // the agent's standard output ended without "bye": it died
  | "agent-ended" // the agent had been asked to end, or was ended: the command was not sent
  | "timeout" // no answer within the reference's longest silence
  | "unreadable-line" // a line of standard output that is not an event
  | "spawn-failed" // the executable could not be started
  | "not-supported"; // the agent does not know --list or --version (an older agent)

export type ErrorCode = AgentMessageCode | ClientCode;

export interface AgentErrorDetails {
  // The text the agent inserted into its message: the fault, <n>, the id, the engine's reason, the mode.
  detail?: string;
  exitCode?: number | null;
  signal?: string | null;
  // The last lines the agent wrote on standard error.
  diagnostics?: string[];
  // The non-fatal errors of a start that came before its fatal one.
  warnings?: AgentError[];
  // The line that could not be read.
  line?: string;
}

export class AgentError extends Error implements AgentErrorDetails {
  readonly code: ErrorCode;
  // Set from the details given, and only those: an error shows what it has.
  declare readonly detail?: string;
  declare readonly exitCode?: number | null;
  declare readonly signal?: string | null;
  declare readonly diagnostics?: string[];
  declare readonly warnings?: AgentError[];
  declare readonly line?: string;

  constructor(code: ErrorCode, message: string, details: AgentErrorDetails = {}) {
    super(message);
    this.name = "AgentError";
    this.code = code;
    Object.assign(this, details);
  }
}

// In the order tried; each pattern's group is the inserted text.
const catalogue: [RegExp, AgentMessageCode][] = [
  [/^commande illisible : (.*)$/s, "unreadable-command"],
  [/^un enregistrement est déjà en cours$/, "already-recording"],
  [/^aucun enregistrement en cours$/, "not-recording"],
  [/^aucun tampon de replay en cours$/, "no-replay-buffer"],
  [/^sauvegarde du replay refusée$/, "save-refused"],
  [/^vidéo : réinitialisation refusée \(code (-?\d+)\)$/, "video-reset-refused"],
  [/^aucune source d'image disponible$/, "no-capture-source"],
  [/^son du jeu seul indisponible : la vidéo sera muette$/, "application-sound-unavailable"],
  [/^aucun encodeur H\.264 disponible$/, "no-h264-encoder"],
  [/^encodeur AAC indisponible : la vidéo sera muette$/, "aac-encoder-unavailable"],
  [/^encodeur ([^ ]+) inutilisable : /, "encoder-unusable"],
  [/^mode inconnu : (.*) \(attendu : file, replay ou both\)$/s, "unknown-mode"],
  [/^une sortie précédente tourne encore : redémarrez l'agent$/, "output-still-running"],
  [/^sortie (.*) indisponible$/s, "output-unavailable"],
  [/^démarrage refusé : (.*)$/s, "start-refused"],
  [/^obs\.(?:dll|so) introuvable ou incomplète : (.*)$/s, "engine-library-unusable"],
  [/^libobs ne démarre pas$/, "engine-refused-startup"],
  [/^son : initialisation refusée$/, "audio-setup-refused"],
  [/^(?:Direct3D 11|OpenGL) : initialisation refusée \(code (-?\d+)\)$/, "video-setup-refused"],
];

// The errors after which a start goes on.
const nonFatal = new Set<ErrorCode>(["application-sound-unavailable", "aac-encoder-unavailable", "encoder-unusable"]);

// The error for a message of the agent's "error" event.
export function errorFromMessage(message: string, details: AgentErrorDetails = {}): AgentError {
  for (const [pattern, code] of catalogue) {
    const found = pattern.exec(message);
    if (found) {
      const detail = found[1];
      return new AgentError(code, message, detail === undefined ? details : { detail, ...details });
    }
  }
  return new AgentError("unknown", message, details);
}

export function isNonFatal(error: AgentError): boolean {
  return nonFatal.has(error.code);
}
