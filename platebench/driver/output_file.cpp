#include "driver/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace {

[[noreturn]] void write_failed(const std::string& path) { throw std::runtime_error("failed to write file: " + path); }

int open_truncating(const std::string& path) {
    int fd;
    do fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Short writes are continued; a write that makes no progress is a failure.
bool write_all(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

RowFile::RowFile(const std::string& path) : path_(path), fd_(open_truncating(path)) {
    if (fd_ < 0) write_failed(path_);
}

RowFile::~RowFile() {
    if (fd_ >= 0) ::close(fd_);
}

void RowFile::append(const std::string& bytes) {
    if (fd_ < 0) write_failed(path_);
    if (!write_all(fd_, bytes)) {
        // A full disk may have taken part of the row: cut it off again.
        if (::ftruncate(fd_, size_) != 0) {
            // The write failure below is what gets reported.
        }
        write_failed(path_);
    }
    size_ += static_cast<off_t>(bytes.size());
}

void RowFile::close() {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    // Some file systems report a lost write only here; EINTR still closed it.
    if (::close(fd) != 0 && errno != EINTR) write_failed(path_);
}

void write_file_replacing(const std::string& path, const std::string& content) {
    const std::string temp = path + ".tmp";
    const int fd = open_truncating(temp);
    if (fd < 0) write_failed(path);
    bool ok = write_all(fd, content);
    ok = (::close(fd) == 0 || errno == EINTR) && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        write_failed(path);
    }
}
