#pragma once

#include "api/engine_abi.h"

#include <vector>

// The part of the fixed release order after the outputs, shared by the stop
// and every failed start: both output channels emptied, then the sources,
// then the encoders, each in list order.
void release_sources_and_encoders(const std::vector<obs_source_t*>& sources,
                                  const std::vector<obs_encoder_t*>& encoders);

// Frees the buffer the engine allocated in call data, when it did.
void free_calldata(calldata_t& data);
