#pragma once

// What our Linux plug-ins share: they register the type ids the agent asks for
// as thin sources over a source of the engine's own Linux plug-ins.

#include <obs-module.h>

// Opens and initialises one of the system's engine plug-ins, by name.
void load_system_module(const char* name);

// An input source type with a fixed display name.
obs_source_info input_source_info(const char* id, const char* name, uint32_t flags,
                                  void* (*create)(obs_data_t*, obs_source_t*),
                                  void (*destroy)(void*));

// The engine source this one stands for, created privately under the same
// name; null when its type is not registered (its plug-in did not load).
// Takes ownership of settings: it is released here in every case.
obs_source_t* create_inner_source(const char* id, obs_source_t* outer, obs_data_t* settings);
