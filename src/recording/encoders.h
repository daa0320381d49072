#pragma once

#include "api/engine_abi.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Every encoder type id the engine offers, in its order.
std::vector<std::string> list_encoder_types();

// The H.264 ids worth trying: the requested one alone, or the preference
// list reduced to what the engine offers.
std::vector<std::string> video_encoder_candidates(const std::vector<std::string>& offered,
                                                  const std::optional<std::string>& requested);

struct VideoEncoder {
    obs_encoder_t* encoder;
    std::string id;
};

// The first of `candidates` from index `next` on that the engine creates, bound
// to the engine's video; `next` moves past every candidate tried.
std::optional<VideoEncoder> create_video_encoder(const std::vector<std::string>& candidates,
                                                 std::size_t& next, std::uint32_t bitrate);

// Whether an encoder that an output refused to start with had set itself up:
// an H.264 encoder has its stream headers once it has. An engine without the
// entry point to tell says yes.
bool video_encoder_set_up(obs_encoder_t* encoder);

// The non-fatal error for an encoder given up for the next one.
std::string unusable_encoder_message(const std::string& id, const std::string& engine_text);

// The AAC encoder bound to the engine's audio, or null after the non-fatal error.
obs_encoder_t* create_aac_encoder();
