#pragma once

// The listing mode: brings the engine up as the agent does, prints the capture
// plug-ins' own lists as one line, {"monitors":[{"name":…,"value":…}],"windows":[…]},
// each value what "start" takes, and shuts the engine down. Returns the exit
// code; on failure after an "error" event, the engine left as it is.
int run_list_mode();
