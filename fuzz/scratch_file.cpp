#include "fuzz_bytes.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

std::string fuzz_scratch_file(const uint8_t* data, size_t size) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/pb_fuzz_" + std::to_string(::getpid());
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                  static_cast<std::streamsize>(size));
    return path;
}
