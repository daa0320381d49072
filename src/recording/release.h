#pragma once

#include "api/engine_abi.h"

#include <chrono>
#include <vector>

// The part of the fixed release order after the outputs, shared by the stop
// and every failed start: both output channels emptied, then the sources,
// then the encoders, each in list order.
void release_sources_and_encoders(const std::vector<obs_source_t*>& sources,
                                  const std::vector<obs_encoder_t*>& encoders);

// Releases an output once the engine has ended it, waiting up to `until`. One
// that is still running then is left to the engine rather than released: its
// release would wait for ever for an end that no packet will bring (a forced
// stop ends a file output only at its next packet). False when left.
bool release_output(obs_output_t* output, std::chrono::steady_clock::time_point until);

// Whether an output was ever left running: the engine cannot be shut down then,
// since that too waits for its end.
bool outputs_left_running();

// Frees the buffer the engine allocated in call data, when it did.
void free_calldata(calldata_t& data);
