// Generated from docs/list.schema.json by scripts/generate-types.mjs: do not edit.

/**
 * The one line `kalto-obs --list` prints when it ends with code 0: the capture plug-ins' own lists of monitors and windows, as they offer them to a user, members sorted by name. A bring-up failure prints an error event instead (events.schema.json). Later versions may add members: a controller should ignore what it does not know (this schema, strict about the current version, does not).
 */
export interface TargetList {
  /**
   * the values of the start command's source.monitor
   */
  monitors: Target[];
  /**
   * the values of source.window and audio.window
   */
  windows: Target[];
}
/**
 * This interface was referenced by `TargetList`'s JSON-Schema
 * via the `definition` "target".
 */
export interface Target {
  /**
   * the plug-in's description, for a person
   */
  name: string;
  /**
   * exactly what the start command takes
   */
  value: string;
}
