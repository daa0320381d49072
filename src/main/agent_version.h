#pragma once

// The agent's own version, fixed when it is built (the engine's is its own).
extern const char* const agent_version; // the project's, "0.1.0"
extern const char* const agent_commit;  // the sources' commit, or "unknown" outside a checkout

// The version mode: prints {"commit":…,"version":…} as one line, with no engine.
int run_version_mode();
