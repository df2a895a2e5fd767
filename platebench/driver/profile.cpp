#include "driver/profile.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <vector>

namespace {

struct Totals {
    long calls = 0;
    double ms = 0;
};

struct Profile {
    std::string path;
    std::map<std::string, Totals> buckets;
    std::vector<double> frames;
    bool probe_running = false;
};

Profile* profile() {
    static Profile* p = [] {
        const char* path = std::getenv("PLATEBENCH_PROFILE");
        if (!path || !*path) return static_cast<Profile*>(nullptr);
        auto* created = new Profile;
        created->path = path;
        return created;
    }();
    return p;
}

} // namespace

bool profile_enabled() { return profile() != nullptr; }

void profile_add(const std::string& bucket, double ms) {
    if (Profile* p = profile()) {
        Totals& t = p->buckets[bucket];
        ++t.calls;
        t.ms += ms;
    }
}

void profile_frame(double ms) {
    if (Profile* p = profile()) p->frames.push_back(ms);
}

void profile_write_report() {
    Profile* p = profile();
    if (!p) return;
    std::ofstream out(p->path, std::ios::trunc);
    out << "frames\t" << p->frames.size() << "\nframe_ms";
    for (double ms : p->frames) out << "\t" << ms;
    out << "\n";
    for (const auto& [bucket, t] : p->buckets) out << "bucket\t" << bucket << "\t" << t.calls << "\t" << t.ms << "\n";
}

ProfileScope::ProfileScope(const std::string& bucket) {
    Profile* p = profile();
    if (!p || p->probe_running) return;
    p->probe_running = true;
    active_ = true;
    bucket_ = bucket;
    start_ = std::chrono::steady_clock::now();
}

ProfileScope::~ProfileScope() {
    if (!active_) return;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
    profile()->probe_running = false;
    profile_add(bucket_, ms);
}
