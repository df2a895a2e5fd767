// Real faults under real runs: a file system that fills up, a file-size
// limit, a run killed at a random moment, and image paths that are no
// pictures. Whatever a faulty run leaves must be whole and match what a
// healthy run writes, and a failure must never read as success.
#include "child_process.h"
#include "command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string fixture(const std::string& name) { return std::string(FIXTURE_DIR) + "/" + name; }

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}

size_t count_of(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string case_name(int i) { return (i < 10 ? "c0" : "c") + std::to_string(i); }

class Faults : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("pb_fault_" + std::to_string(::getpid()) + "_" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // A working directory holding word lists, n copies of the test plate and
    // a case list of them in groups of three.
    fs::path workspace(const std::string& name, int n) {
        const fs::path ws = dir / name;
        write_file(ws / "regions.txt", "川\n品川\n");
        write_file(ws / "dict.txt", "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n-\n・\n品\n川\nあ\nさ\n");
        std::string list = "image_path,expected,group_id\n";
        for (int i = 0; i < n; ++i) {
            fs::copy_file(fixture("plate.png"), ws / (case_name(i) + ".png"));
            list += case_name(i) + ".png,品川 300 あ 12-34,g" + std::to_string(i / 3) + "\n";
        }
        write_file(ws / "list.csv", list);
        return ws;
    }

    std::vector<std::string> platebench_args(const std::string& out, const std::string& list = "list.csv") {
        return {PLATEBENCH_BIN,  "--plate-corner-model", fixture("corner.onnx"), "--ppocr-det-model",
                fixture("textdet.onnx"), "--ppocr-rec-model", fixture("rec.onnx"), "--dict-region",
                "regions.txt",   "--ocr-dict",           "dict.txt",             "--input-list",
                list,            "--output-dir",         out};
    }

    ChildExit run(const fs::path& cwd, const std::vector<std::string>& argv, long size_limit = -1,
                  double timeout_s = 300) {
        ChildOptions opt;
        opt.cwd = cwd.string();
        opt.out_path = (dir / "stdout").string();
        opt.err_path = (dir / "stderr").string();
        opt.file_size_limit = size_limit;
        return wait_child(start_child(argv, opt), timeout_s);
    }
    std::string out() { return slurp((dir / "stdout").string()); }
    std::string err() { return slurp((dir / "stderr").string()); }

    // What a faulty run left under ws/out agrees with a healthy run's tree
    // ref/out: the frame table is a prefix of the healthy one made of whole
    // rows, it holds the row of every finished frame and each row's case
    // files are there, and every record or table that
    // exists is the healthy one byte for byte. Tables named in `earlier`
    // are held to those bytes instead.
    void expect_whole(const fs::path& ws, const fs::path& ref, const std::vector<std::string>& earlier = {}) {
        const fs::path o = ws / "out", r = ref / "out";
        if (fs::exists(o / "frame_summary.csv")) {
            const std::string rows = slurp((o / "frame_summary.csv").string());
            const std::string want = slurp((r / "frame_summary.csv").string());
            EXPECT_EQ(want.compare(0, rows.size(), rows), 0) << "not a prefix of the healthy table:\n" << rows;
            EXPECT_TRUE(rows.empty() || rows.back() == '\n') << "torn last row:\n" << rows;
            const std::vector<std::string> lines = lines_of(rows);
            // Only the frame being finished may have its records without its row yet.
            size_t finished = 0;
            if (fs::exists(o / "cases"))
                for (const auto& c : fs::directory_iterator(o / "cases")) finished += fs::exists(c.path() / "result.json");
            EXPECT_GE(lines.size(), finished) << "rows of finished frames are missing:\n" << rows;
            for (size_t i = 1; i < lines.size(); ++i) {
                const size_t a = lines[i].find(','), b = lines[i].find(".png", a);
                ASSERT_NE(b, std::string::npos) << lines[i];
                const fs::path c = o / "cases" / lines[i].substr(a + 1, b - a - 1);
                EXPECT_TRUE(fs::exists(c / "result.txt") && fs::exists(c / "result.json")) << c;
            }
        }
        if (fs::exists(o / "cases")) {
            for (const auto& c : fs::directory_iterator(o / "cases")) {
                for (const char* name : {"result.txt", "result.json"}) {
                    if (!fs::exists(c.path() / name)) continue;
                    EXPECT_EQ(slurp((c.path() / name).string()),
                              slurp((r / "cases" / c.path().filename() / name).string()))
                        << c.path() / name;
                }
            }
        }
        for (const char* name : {"summary.csv", "FINAL_RESULT.json"}) {
            if (!fs::exists(o / name)) continue;
            std::string want = slurp((r / name).string());
            for (size_t i = 0; i + 1 < earlier.size(); i += 2)
                if (earlier[i] == name) want = earlier[i + 1];
            EXPECT_EQ(slurp((o / name).string()), want) << name;
        }
    }

    fs::path dir;
};

// A run whose every write fails on a full disk must say so, once, and keep
// the previous run's tables as they were.
TEST_F(Faults, FullFileSystem) {
    const fs::path ref = workspace("ref", 40);
    ASSERT_EQ(run(ref, platebench_args("out")).code, 0) << err();

    const fs::path ws = workspace("ws", 40);
    fs::create_directories(ws / "out");
    ScratchMount disk((ws / "out").string(), "size=256k");
    if (!disk.mounted()) {
        if (in_ci()) FAIL() << "cannot mount a tmpfs (run as root)";
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    write_file(ws / "one.csv", "image_path,expected,group_id\nc00.png,品川 300 あ 12-34,g0\n");
    ASSERT_EQ(run(ws, platebench_args("out", "one.csv")).code, 0) << err();
    const std::string summary = slurp((ws / "out/summary.csv").string());
    const std::string final_json = slurp((ws / "out/FINAL_RESULT.json").string());
    ASSERT_NE(summary, "");

    const ChildExit full = run(ws, platebench_args("out"));
    EXPECT_EQ(full.code, 1);
    EXPECT_EQ(count_of(err(), "[ERROR] "), 1u) << err();
    EXPECT_NE(err().find("\n[ERROR] failed to write file: out/"), std::string::npos) << err();
    EXPECT_EQ(out(), "") << "a final block after a failed write";
    expect_whole(ws, ref, {"summary.csv", summary, "FINAL_RESULT.json", final_json});

    // The corner check on the same full disk.
    fs::create_directories(ws / "out/cc");
    {
        std::ofstream fill(ws / "out/fill", std::ios::binary);
        const std::string block(4096, 'x');
        while (fill.write(block.data(), block.size())) {
        }
    }
    const ChildExit cc = run(ws, {CORNERCHECK_BIN, fixture("corner.onnx"), "c00.png", "out/cc"});
    EXPECT_EQ(cc.code, 6) << err();
    EXPECT_NE(err().find("[ERROR] failed to write file: out/cc/result.txt\n"), std::string::npos) << err();
    EXPECT_EQ(out().find("saved:"), std::string::npos) << out();
}

// The same through a file-size limit, which needs no privileges: the frame
// table hits it first and must not keep a part of the row that did not fit.
TEST_F(Faults, FileSizeLimit) {
    const fs::path ref = workspace("ref", 40);
    ASSERT_EQ(run(ref, platebench_args("out")).code, 0) << err();
    ASSERT_GT(fs::file_size(ref / "out/frame_summary.csv"), 3000u);

    const fs::path ws = workspace("ws", 40);
    const ChildExit r = run(ws, platebench_args("out"), 3000);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(err().find("\n[ERROR] failed to write file: out/frame_summary.csv\n"), std::string::npos) << err();
    EXPECT_EQ(out(), "");
    EXPECT_GT(fs::file_size(ws / "out/frame_summary.csv"), 1000u);
    expect_whole(ws, ref);

    const ChildExit cc = run(ws, {CORNERCHECK_BIN, fixture("corner.onnx"), "c00.png", "cc"}, 100);
    EXPECT_EQ(cc.code, 6) << err();
    EXPECT_NE(err().find("[ERROR] failed to write file: cc/result.txt\n"), std::string::npos) << err();
}

// SIGKILL at random moments of a real run; every kill must leave a tree that
// agrees with the healthy one. The delays scale with the healthy run's time,
// so the same test holds in sanitizer and emulated builds.
TEST_F(Faults, KilledRun) {
    const fs::path ref = workspace("ref", 60);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(run(ref, platebench_args("out")).code, 0) << err();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const fs::path ws = workspace("ws", 60);
    const unsigned seed = std::random_device()();
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> when(0.05 * seconds, seconds);
    for (int attempt = 0; attempt < 8; ++attempt) {
        fs::remove_all(ws / "out");
        const double delay = when(rng);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", killed after " + std::to_string(delay) + " s of " +
                     std::to_string(seconds) + " s");
        const ChildExit r = run(ws, platebench_args("out"), -1, delay);
        EXPECT_TRUE(r.timed_out || r.code == 0) << err();
        expect_whole(ws, ref);
    }
}

// Paths that are no regular picture: each ends with the program's own line
// at once, never blocks and never shows the decoder's internals.
TEST_F(Faults, ImagesThatAreNoPictures) {
    const fs::path ws = workspace("ws", 1);
    ASSERT_EQ(::mkfifo((ws / "fifo.png").c_str(), 0644), 0);
    fs::create_directories(ws / "folder.png");
    fs::copy_file(fixture("bomb_60000x60000.png"), ws / "bomb.png");
    for (const std::string bad : {"fifo.png", "folder.png", "/dev/zero", "bomb.png"}) {
        SCOPED_TRACE(bad);
        write_file(ws / "bad.csv", "image_path,expected\nc00.png,x\n" + bad + ",x\n");
        const ChildExit pb = run(ws, platebench_args("out", "bad.csv"), -1, 120);
        EXPECT_FALSE(pb.timed_out);
        EXPECT_EQ(pb.code, 1);
        EXPECT_NE(err().find("\n[ERROR] failed to read image: " + bad + "\n"), std::string::npos) << err();
        EXPECT_TRUE(fs::exists(ws / "out/cases/c00/result.json"));

        const ChildExit cc = run(ws, {CORNERCHECK_BIN, fixture("corner.onnx"), bad, "cc"}, -1, 120);
        EXPECT_FALSE(cc.timed_out);
        EXPECT_EQ(cc.code, 2);
        EXPECT_EQ(err(), "failed to read image: " + bad + "\n");
    }
}

} // namespace
