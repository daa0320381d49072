#pragma once

// The listing mode: brings the engine up as the agent does, then prints the
// capture plug-ins' own lists as one line,
// {"monitors":[{"name":…,"value":…}],"windows":[…]}, each value what "start"
// takes. Returns the exit code, after an "error" event on failure.
int run_list_mode();
