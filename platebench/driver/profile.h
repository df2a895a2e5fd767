// Opt-in timing of where a run's time goes. It is on only when the
// environment variable PLATEBENCH_PROFILE names a file (read once, at the
// first probe); off, a probe costs one branch. The report goes to that file
// alone, so the program's own output stays as it is.
#pragma once

#include <chrono>
#include <string>

bool profile_enabled();
void profile_add(const std::string& bucket, double ms);
void profile_frame(double ms);
// Writes the report when profiling is on; called once at the end of a run.
void profile_write_report();

// Times its scope into a bucket. A probe inside another running probe is not
// counted, so nested helpers never count twice.
class ProfileScope {
public:
    explicit ProfileScope(const std::string& bucket);
    ~ProfileScope();
    ProfileScope(const ProfileScope&) = delete;
    ProfileScope& operator=(const ProfileScope&) = delete;

private:
    bool active_ = false;
    std::string bucket_;
    std::chrono::steady_clock::time_point start_;
};
