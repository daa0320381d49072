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

// The first candidate the engine creates, bound to the engine's video.
std::optional<VideoEncoder> select_video_encoder(const std::vector<std::string>& offered,
                                                 const std::optional<std::string>& requested,
                                                 std::uint32_t bitrate);

// The AAC encoder bound to the engine's audio, or null after the non-fatal error.
obs_encoder_t* create_aac_encoder();
