#include "recording/replay.h"

#include "api/engine_api.h"
#include "protocol/event_writer.h"
#include "recording/release.h"

void save_replay(Recording& recording) {
    const EngineApi& api = engine();
    calldata_t call{};
    proc_handler_t* procedures = api.obs_output_get_proc_handler(recording.replay_output);
    if (!api.proc_handler_call(procedures, "save", &call))
        emit_error("sauvegarde du replay refusée");
    free_calldata(call);
}
