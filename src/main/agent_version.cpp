#include "main/agent_version.h"

#include "common/exit_codes.h"
#include "protocol/event_writer.h"

int run_version_mode() {
    emit_event({{"commit", agent_commit}, {"version", agent_version}});
    return exit_code::normal;
}
