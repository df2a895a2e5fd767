#include "fuzz_bytes.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {
// One scratch file per process, rewritten for each input and removed when the process ends.
struct Scratch {
    std::string path;
    ~Scratch() {
        if (!path.empty()) std::remove(path.c_str());
    }
};
} // namespace

std::string fuzz_scratch_file(const uint8_t* data, size_t size) {
    static Scratch scratch;
    if (scratch.path.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        scratch.path = std::string(tmp && *tmp ? tmp : "/tmp") + "/pb_fuzz_" + std::to_string(::getpid());
    }
    const std::string& path = scratch.path;
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                  static_cast<std::streamsize>(size));
    return path;
}
