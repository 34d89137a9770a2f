// Shared set-up of the fuzz targets: the real POSIX files, with every
// message, beep and pause dropped so a run never waits or prints.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "frame/frame.h"
#include "platform/platform.h"

namespace hylfuzz {

inline void quiet_box(const char*, const char*) {}
inline void quiet_line(const char*, int, int) {}
inline void quiet_beep() {}
inline void quiet_sleep(uint32_t) {}

inline void install_quiet_platform() {
    static bool done = false;
    if (done) return;
    done = true;
    hyl::PlatformOps ops = hyl::native_platform();
    ops.message_box = quiet_box;
    ops.screen_line = quiet_line;
    ops.beep = quiet_beep;
    ops.sleep_ms = quiet_sleep;
    hyl::install_platform(ops);
    hyl::frame_load();
}

// A file in memory-backed storage holding the input, one per process.
inline std::string scratch_path(const char* name) {
    static std::string dir = [] {
        char pattern[] = "/dev/shm/hylfuzz-XXXXXX";
        const char* d = mkdtemp(pattern);
        return std::string(d ? d : "/tmp");
    }();
    return dir + "/" + name;
}

inline void write_bytes(const std::string& path, const uint8_t* data, size_t size) {
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

}  // namespace hylfuzz
