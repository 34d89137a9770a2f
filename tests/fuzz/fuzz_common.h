// Shared set-up of the fuzz targets: the in-memory platform (files as byte
// buffers, nothing shown, no waits, a fixed clock), and the fault plan that
// leads every input of the targets that touch files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tests/fuzz/memory_platform.h"

namespace hylfuzz {

// Takes the fault plan off the front of the input and starts a clean run
// with it; data and size are left describing the rest.
inline void start_run_from_input(const uint8_t*& data, std::size_t& size) {
    start_run(take_fault_plan(data, size));
}

}  // namespace hylfuzz
