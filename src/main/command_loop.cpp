#include "main/command_loop.h"

#include "api/engine_api.h"
#include "common/exit_codes.h"
#include "common/utf8.h"
#include "platform/platform.h"
#include "protocol/command.h"
#include "protocol/event_writer.h"
#include "recording/black_image.h"
#include "recording/mask.h"
#include "recording/recording.h"
#include "recording/release.h"
#include "recording/replay.h"
#include "recording/stats.h"
#include "recording/stop.h"

#include <chrono>
#include <cstdio>
#include <optional>

namespace {

constexpr std::chrono::milliseconds wake_up_period{500};

const char* const no_recording = "aucun enregistrement en cours";
const char* const no_replay_buffer = "aucun tampon de replay en cours";

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

LoopStep dispatch(Command command, std::optional<Recording>& active) {
    if (auto* start = std::get_if<Start>(&command.value)) {
        if (active)
            emit_error("un enregistrement est déjà en cours");
        else if (outputs_left_running())
            // The engine refuses a video reset while that output holds its encoders.
            emit_error("une sortie précédente tourne encore : redémarrez l'agent");
        else
            active = start_recording(std::move(*start));
    } else if (auto* mask = std::get_if<Command::Mask>(&command.value)) {
        if (!active)
            emit_error(no_recording);
        else
            set_mask(*active, mask->hidden);
    } else if (std::holds_alternative<Command::Save>(command.value)) {
        if (!active || !active->replay_output)
            emit_error(no_replay_buffer);
        else
            save_replay(*active);
    } else if (std::holds_alternative<Command::Stop>(command.value)) {
        std::optional<Recording> taken = std::move(active);
        active.reset();
        if (!taken)
            emit_error(no_recording);
        else
            stop_recording(std::move(*taken));
    } else if (std::holds_alternative<Command::Stats>(command.value)) {
        if (!active)
            emit_error(no_recording);
        else
            emit_event(collect_stats(*active));
    } else {
        return LoopStep::Quit;
    }
    return LoopStep::Continue;
}

} // namespace

bool is_blank_line(std::string_view line) {
    for (std::size_t i = 0; i < line.size();)
        if (!is_white_space(decode_code_point(line, i)))
            return false;
    return true;
}

LoopStep handle_line(const std::string& line, std::optional<Recording>& active) {
    if (is_blank_line(line))
        return LoopStep::Continue;
    ParsedCommand parsed = parse_command(line);
    if (!parsed.command) {
        emit_error("commande illisible : " + parsed.fault);
        return LoopStep::Continue;
    }
    return dispatch(std::move(*parsed.command), active);
}

int run_command_loop(LineChannel& lines) {
    std::optional<Recording> active;
    for (;;) {
        auto received = lines.receive_for(wake_up_period);
        if (received.status == LineChannel::Status::Closed)
            break;
        if (received.status == LineChannel::Status::Timeout) {
            if (active && !active->masked)
                check_black_image(*active);
            continue;
        }
        if (handle_line(*received.item, active) == LoopStep::Quit)
            break;
    }

    if (active) {
        Recording last = std::move(*active);
        active.reset();
        stop_recording(std::move(last));
    }
    if (outputs_left_running()) {
        // The engine's shutdown would wait for ever for an output it never ended, and its
        // threads still run: nothing of the process's own end may run under them, and none
        // of their events may come after "bye".
        std::fflush(stdout);
        std::fflush(stderr);
        emit_last_event({{"event", "bye"}});
        platform::end_process_now(exit_code::normal);
    }
    engine().obs_shutdown();
    emit_event({{"event", "bye"}});
    return exit_code::normal;
}
