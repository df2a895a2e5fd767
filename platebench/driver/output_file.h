// Result and table files whose writes are checked: a failed open, write,
// flush or close throws "failed to write file: " + path.
#pragma once

#include <sys/types.h>

#include <string>

// A table that grows row by row (the frame summary). Each append reaches the
// file at once, in one write call, so a run that dies leaves every appended
// row whole and no torn one behind it; a row that does not fit is cut off
// again before the failure is reported.
class RowFile {
public:
    // Creates or truncates the file.
    explicit RowFile(const std::string& path);
    ~RowFile();
    RowFile(const RowFile&) = delete;
    RowFile& operator=(const RowFile&) = delete;

    void append(const std::string& bytes);
    // Closes and reports a failure; the destructor closes silently.
    void close();

private:
    std::string path_;
    int fd_ = -1;
    off_t size_ = 0;
};

// Writes the whole file beside its final name ("<path>.tmp") and renames it
// into place, so the path holds either its earlier content or all of the new
// one, never a part, whenever the run stops.
void write_file_replacing(const std::string& path, const std::string& content);
