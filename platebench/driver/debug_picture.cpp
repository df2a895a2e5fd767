#include "driver/debug_picture.h"

#include "driver/profile.h"

#include <opencv2/imgcodecs.hpp>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// One writer thread for the whole process. Its destructor writes what is
// still queued, so a run that ends early (an error, a return from main) keeps
// every picture it handed over.
class PictureWriter {
public:
    PictureWriter() : worker_([this] { work(); }) {
        // Makes OpenCV build its codec table now, inside this constructor, so that
        // the table outlives this writer when statics are torn down at exit.
        cv::haveImageWriter(".jpg");
    }
    ~PictureWriter() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        queued_.notify_all();
        worker_.join();
    }
    PictureWriter(const PictureWriter&) = delete;
    PictureWriter& operator=(const PictureWriter&) = delete;

    void push(std::string path, cv::Mat picture) {
        std::unique_lock<std::mutex> lock(mutex_);
        // Bounded, so a burst of large pictures cannot pile up in memory.
        done_.wait(lock, [this] { return pending_.size() < kMaxQueued; });
        pending_.emplace_back(std::move(path), std::move(picture));
        queued_.notify_one();
    }

    void finish() {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return pending_.empty(); });
    }

private:
    static constexpr size_t kMaxQueued = 32;

    void work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            queued_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
            if (pending_.empty()) return;
            // The picture stays queued while it is written, so an empty queue means all
            // are on disk; a deque's elements stay put while others are added behind them.
            const std::pair<std::string, cv::Mat>& item = pending_.front();
            lock.unlock();
            try {
                cv::imwrite(item.first, item.second);
            } catch (const cv::Exception&) {
                // same as a failed write: ignored
            }
            lock.lock();
            pending_.pop_front();
            done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable done_;
    std::deque<std::pair<std::string, cv::Mat>> pending_;
    bool stopping_ = false;
    std::thread worker_;  // last: starts once the rest is built
};

PictureWriter& writer() {
    static PictureWriter instance;
    return instance;
}

} // namespace

void write_debug_picture(const std::string& path, const cv::Mat& picture) {
    ProfileScope timed("debug_jpeg");
    // A copy: the caller may draw on or reuse its picture after this returns.
    writer().push(path, picture.clone());
}

void finish_debug_pictures() {
    ProfileScope timed("debug_jpeg");
    writer().finish();
}
