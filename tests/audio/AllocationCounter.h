#pragma once

#include <cstdint>

// The audio test program replaces the global operator new and delete to watch allocations.
namespace lorvanta::testing_audio {

// Bytes allocated through operator new and not yet freed, in the whole program.
int64_t liveHeapBytes();

// Allocations made on a thread while it is marked as rendering.
int renderThreadAllocations();
void markRendering(bool rendering);

}  // namespace lorvanta::testing_audio
