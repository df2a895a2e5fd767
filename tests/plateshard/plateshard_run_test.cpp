// plateshard from outside, against one platebench run over the same list:
// the whole output tree file for file and byte for byte, the exit code and
// the final block; with GNU parallel here, split and merged by hand, and over
// ssh to an sshd this test starts on 127.0.0.1.
#include "command.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string fixture(const std::string& name) { return std::string(FIXTURE_DIR) + "/" + name; }

void put(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

bool in_ci() {
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

std::string find_program(const std::string& name) {
    std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
    dirs += ":/usr/sbin:/sbin";
    size_t begin = 0;
    while (begin < dirs.size()) {
        size_t end = dirs.find(':', begin);
        if (end == std::string::npos) end = dirs.size();
        const std::string path = dirs.substr(begin, end - begin) + "/" + name;
        if (access(path.c_str(), X_OK) == 0) return path;
        begin = end + 1;
    }
    return "";
}

// A component a test cannot run without: in CI its absence is a failure, elsewhere a skip.
#define REQUIRE_PROGRAM(name)                                                                  \
    do {                                                                                       \
        if (find_program(name).empty()) {                                                     \
            if (in_ci()) FAIL() << name << " is not installed (scripts/setup.sh installs it)"; \
            GTEST_SKIP() << name << " is not installed";                                       \
        }                                                                                      \
    } while (0)

// Relative path (folders end in "/") to content, for every entry under root.
std::map<std::string, std::string> read_tree(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).string();
        if (e.is_directory()) tree[rel + "/"] = "";
        else tree[rel] = slurp(e.path().string());
    }
    return tree;
}

// Empty when both trees hold the same entries with the same bytes.
std::string tree_difference(const fs::path& a, const fs::path& b) {
    const auto ta = read_tree(a), tb = read_tree(b);
    std::string diff;
    for (const auto& [path, content] : ta) {
        const auto it = tb.find(path);
        if (it == tb.end()) diff += "only in " + a.string() + ": " + path + "\n";
        else if (it->second != content) diff += "differs: " + path + "\n";
    }
    for (const auto& [path, content] : tb)
        if (!ta.count(path)) diff += "only in " + b.string() + ": " + path + "\n";
    return diff;
}

// An sshd of our own: a free port on 127.0.0.1, throw-away host and user keys,
// in the foreground so that it goes with the test.
class LoopbackSshd {
public:
    explicit LoopbackSshd(const std::string& dir) : dir_(dir) {
        const std::string sshd = find_program("sshd"), keygen = find_program("ssh-keygen");
        if (sshd.empty() || keygen.empty()) {
            error = "sshd or ssh-keygen missing";
            return;
        }
        for (const char* key : {"host_key", "user_key"}) {
            const CommandResult r = run_command({keygen, "-q", "-t", "ed25519", "-N", "", "-f", key}, dir_);
            if (r.exit_code != 0) {
                error = "ssh-keygen failed: " + r.err;
                return;
            }
        }
        fs::copy_file(dir_ + "/user_key.pub", dir_ + "/authorized_keys");
        port_ = free_port();
        put(dir_ + "/sshd_config", "Port " + std::to_string(port_) + "\nListenAddress 127.0.0.1\n" +
                                       "HostKey " + dir_ + "/host_key\nAuthorizedKeysFile " + dir_ +
                                       "/authorized_keys\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n" +
                                       "KbdInteractiveAuthentication no\nPidFile " + dir_ + "/sshd.pid\n");
        // sshd insists on its privilege separation folder.
        std::error_code ignored;
        fs::create_directories("/run/sshd", ignored);
        pid_ = fork();
        if (pid_ == 0) {
            const std::string config = dir_ + "/sshd_config", log = dir_ + "/sshd.log";
            execl(sshd.c_str(), sshd.c_str(), "-D", "-f", config.c_str(), "-E", log.c_str(), (char*)nullptr);
            _exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                error = "sshd ended at once: " + log();
                return;
            }
            if (accepts()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        error = "sshd does not listen: " + log();
    }
    ~LoopbackSshd() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    LoopbackSshd(const LoopbackSshd&) = delete;
    LoopbackSshd& operator=(const LoopbackSshd&) = delete;

    // A GNU parallel sshlogin: the ssh command, then user@host.
    std::string sshlogin() const {
        const passwd* pw = getpwuid(geteuid());
        return "ssh -p " + std::to_string(port_) + " -i " + dir_ + "/user_key -o StrictHostKeyChecking=no " +
               "-o UserKnownHostsFile=/dev/null -o BatchMode=yes -o LogLevel=ERROR " +
               std::string(pw ? pw->pw_name : "root") + "@127.0.0.1";
    }
    std::string log() const { return slurp(dir_ + "/sshd.log"); }
    std::string error;

private:
    static int free_port() {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
        close(s);
        return ntohs(addr.sin_port);
    }
    bool accepts() const {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port_));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        close(s);
        return ok;
    }
    std::string dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// Several groups, a group whose frames are apart in the list, two images that
// share a base name (one case folder) in different groups, an empty
// expectation, a group that is not read as expected, a row without group.
const char* const kList = "image_path,expected,group_id\n"
                          "img/g1_a.png,品川 300 あ 12-34,G1\n"
                          "img/g2_a.png,,G2\n"
                          "img/d1/x.png,品川 300 あ 12-34,G3\n"
                          "img/g1_b.png,品川300あ12-34,G1\n"
                          "img/g5_a.png,品川 300 さ 12-34,G5\n"
                          "img/d2/x.png,品川 300 あ 12-34,G4\n"
                          "img/g10_a.png,品川 300 あ 12-34,\n";

struct Config {
    const char* mode;
    const char* recogniser;
};
// The second reads no kana at first, so the kana search writes its pictures too.
const Config kConfigs[] = {{"roi", "run_rec_kana.onnx"}, {"frame", "run_rec_nokana.onnx"}};

class PlateshardRun : public testing::Test {
protected:
    void SetUp() override {
        put(dir / "regions.txt", "川\n品川\n");
        put(dir / "dict.txt", "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n-\n・\n品\n川\nあ\nさ\n");
        put(dir / "list.csv", kList);
        int shade = 0;
        for (const char* name : {"g1_a", "g1_b", "g2_a", "d1/x", "d2/x", "g5_a", "g10_a"}) {
            shade += 20;
            const cv::Mat picture(60 + shade / 4, 160, CV_8UC3, cv::Scalar(200 - shade, 220, 40 + shade));
            fs::create_directories((dir / "img" / name).parent_path());
            cv::imwrite((dir / "img" / (std::string(name) + ".png")).string(), picture);
        }
    }

    std::vector<std::string> platebench_options(const Config& c, const std::string& list = "list.csv") const {
        return {"--input-mode", c.mode, "--plate-det-model", fixture("run_det.onnx"), "--plate-corner-model",
                fixture("run_corner.onnx"), "--ppocr-det-model", fixture("run_textdet.onnx"), "--ppocr-rec-model",
                fixture(c.recogniser), "--dict-region", "regions.txt", "--ocr-dict", "dict.txt", "--input-list",
                list};
    }
    CommandResult platebench(const Config& c, const std::string& list, const std::string& out) const {
        std::vector<std::string> args = {PLATEBENCH_BIN};
        for (const auto& o : platebench_options(c, list)) args.push_back(o);
        args.insert(args.end(), {"--output-dir", out, "--fail-on-error"});
        return run_command(args, dir.string());
    }
    CommandResult plateshard(std::vector<std::string> args) const {
        args.insert(args.begin(), PLATESHARD_BIN);
        return run_command(args, dir.string());
    }
    CommandResult plateshard_run(const Config& c, std::vector<std::string> extra) const {
        std::vector<std::string> args = {"run", "-j", "2", "--platebench", PLATEBENCH_BIN};
        args.insert(args.end(), extra.begin(), extra.end());
        for (const auto& o : platebench_options(c)) args.push_back(o);
        args.insert(args.end(), {"--output-dir", "out", "--fail-on-error"});
        return plateshard(args);
    }
    // One platebench run over the list, its tree moved to one/.
    CommandResult one_run(const Config& c) const {
        const CommandResult r = platebench(c, "list.csv", "out");
        fs::rename(dir / "out", dir / "one");
        return r;
    }
    bool work_folders_left() const {
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename().string().rfind(".plateshard-", 0) == 0) return true;
        return false;
    }

    TempDir tmp{"plateshard_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name())};
    fs::path dir{tmp.path};
};

} // namespace

TEST_F(PlateshardRun, TwoJobsGiveOneRunsTree) {
    REQUIRE_PROGRAM("parallel");
    for (const Config& c : kConfigs) {
        const CommandResult one = one_run(c);
        ASSERT_EQ(one.exit_code, 2) << one.err;
        const CommandResult sharded = plateshard_run(c, {});
        EXPECT_EQ(sharded.exit_code, 2) << c.mode << "\n" << sharded.err;
        EXPECT_EQ(sharded.out, one.out) << c.mode;
        EXPECT_EQ(tree_difference(dir / "one", dir / "out"), "") << c.mode;
        EXPECT_NE(sharded.err.find("[INFO] shards=2 "), std::string::npos) << sharded.err;
        EXPECT_FALSE(work_folders_left());
        fs::remove_all(dir / "one");
        fs::remove_all(dir / "out");
    }
}

// Two shards on one machine: each on its own half of the cores, so their OpenCV
// thread pools do not take turns on the same ones.
TEST_F(PlateshardRun, EachJobSlotRunsOnItsShareOfTheCores) {
    REQUIRE_PROGRAM("parallel");
    put(dir / "pinned.sh", "#!/bin/sh\ngrep Cpus_allowed_list /proc/self/status >> cores.log\nexec " +
                                std::string(PLATEBENCH_BIN) + " \"$@\"\n");
    fs::permissions(dir / "pinned.sh", fs::perms::owner_all);
    std::vector<std::string> args = {"run", "-j", "2", "--platebench", (dir / "pinned.sh").string()};
    for (const auto& o : platebench_options(kConfigs[0])) args.push_back(o);
    args.insert(args.end(), {"--output-dir", "out"});
    const CommandResult r = plateshard(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::ifstream log(dir / "cores.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    cpu_set_t mine;
    ASSERT_EQ(sched_getaffinity(0, sizeof(mine), &mine), 0);
    if (CPU_COUNT(&mine) >= 2) {
        EXPECT_NE(lines[0], lines[1]);
    }
}

TEST_F(PlateshardRun, SplitRunEachMergeGivesOneRunsTree) {
    const Config& c = kConfigs[1];
    const CommandResult one = one_run(c);
    ASSERT_EQ(one.exit_code, 2) << one.err;
    const CommandResult split = plateshard({"split", "--input-list", "list.csv", "--shards", "3", "--out", "lists"});
    ASSERT_EQ(split.exit_code, 0) << split.err;
    EXPECT_EQ(split.out, "lists/shard_000.csv\nlists/shard_001.csv\nlists/shard_002.csv\n");
    std::vector<std::string> merge = {"merge", "--input-list", "list.csv", "--output-dir", "out", "--fail-on-error"};
    for (int k = 0; k < 3; ++k) {
        const std::string part = "parts/" + std::to_string(k);
        const CommandResult r = platebench(c, "lists/shard_00" + std::to_string(k) + ".csv", part);
        ASSERT_LE(r.exit_code, 2) << r.err;
        merge.push_back(part);
    }
    const CommandResult merged = plateshard(merge);
    EXPECT_EQ(merged.exit_code, 2) << merged.err;
    EXPECT_EQ(merged.out, one.out);
    EXPECT_EQ(tree_difference(dir / "one", dir / "out"), "");
    EXPECT_TRUE(fs::exists(dir / "parts/0/frame_summary.csv")) << "merge leaves the shard outputs";

    const struct {
        std::vector<std::string> shards;
        std::string err;
    } unfit[] = {
        {{"parts/0", "parts/9", "parts/2"}, "[ERROR] shard output missing: parts/9\n"},
        {{"parts/1", "parts/0", "parts/2"}, "[ERROR] shard output does not match its case list: parts/1 "},
        {{"parts/0", "parts/1"}, "[ERROR] shard output does not match its case list: parts/"},
    };
    for (const auto& u : unfit) {
        std::vector<std::string> args = {"merge", "--input-list", "list.csv", "--output-dir", "refused"};
        args.insert(args.end(), u.shards.begin(), u.shards.end());
        const CommandResult r = plateshard(args);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err.substr(0, u.err.size()), u.err);
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_FALSE(fs::exists(dir / "refused")) << "nothing written";
    }
}

TEST_F(PlateshardRun, AFailingShardEndsTheRunWithoutTables) {
    REQUIRE_PROGRAM("parallel");
    put(dir / "list.csv", std::string(kList) + "img/absent.png,x,G9\n");
    const CommandResult r = plateshard_run(kConfigs[0], {});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("[ERROR] failed to read image: img/absent.png\n"), std::string::npos) << r.err;
    const std::string last = "[ERROR] shard runs failed: parallel exit code 1\n";
    ASSERT_GE(r.err.size(), last.size());
    EXPECT_EQ(r.err.substr(r.err.size() - last.size()), last);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(dir / "out/frame_summary.csv"));
    EXPECT_FALSE(work_folders_left());
}

TEST_F(PlateshardRun, CommandLineErrors) {
    const struct {
        std::vector<std::string> args;
        int code;
        std::string err;
    } table[] = {
        {{"frobnicate"}, 1, "[ERROR] unknown command: frobnicate\n"},
        {{"run", "--input-list", "list.csv"}, 1, "[ERROR] missing option: -j\n"},
        {{"run", "-j", "0"}, 1, "[ERROR] -j must be a positive integer: 0\n"},
        {{"run", "-j", "2x"}, 1, "[ERROR] -j must be a positive integer: 2x\n"},
        {{"run", "-j", " 2"}, 1, "[ERROR] -j must be a positive integer:  2\n"},
        {{"split", "--shards", "99999999999"}, 1, "[ERROR] --shards must be a positive integer: 99999999999\n"},
        {{"run", "-j", "2", "--bogus"}, 1, "[ERROR] unknown argument: --bogus\n"},
        {{"run", "-j", "2", "--input-list"}, 1, "[ERROR] missing value for --input-list\n"},
        {{"run", "-j", "2", "--plate-corner-model", "absent.onnx"}, 1,
         "[ERROR] missing required file: absent.onnx\n"},
        {{"split", "--input-list", "list.csv", "--out", "x"}, 1, "[ERROR] missing option: --shards\n"},
        {{"split", "--input-list", "absent.csv", "--shards", "2", "--out", "x"}, 1,
         "[ERROR] failed to open input list: absent.csv\n"},
        {{"merge", "--input-list", "list.csv", "--output-dir", "o"}, 1, "[ERROR] missing shard outputs\n"},
        {{"merge", "--input-list", "list.csv", "--output-dir", "o", "--shards", "2"}, 1,
         "[ERROR] unknown argument: --shards\n"},
        {{"run", "-h"}, 0, ""},
    };
    for (const auto& t : table) {
        const CommandResult r = plateshard(t.args);
        EXPECT_EQ(r.exit_code, t.code) << t.args[0] << " " << r.err;
        EXPECT_EQ(r.err, t.err);
    }
    EXPECT_EQ(plateshard({"--help"}).out.rfind("Usage: plateshard split ", 0), 0u);
}

TEST_F(PlateshardRun, OverSshToThisMachineGivesOneRunsTree) {
    REQUIRE_PROGRAM("parallel");
    REQUIRE_PROGRAM("rsync");
    REQUIRE_PROGRAM("ssh");
    const TempDir ssh_dir("plateshard_sshd");
    const LoopbackSshd sshd(ssh_dir.path);
    if (!sshd.error.empty()) {
        if (in_ci()) FAIL() << sshd.error;
        GTEST_SKIP() << sshd.error;
    }
    const Config& c = kConfigs[0];
    const CommandResult one = one_run(c);
    ASSERT_EQ(one.exit_code, 2) << one.err;
    const CommandResult sharded = plateshard_run(c, {"--sshlogin", sshd.sshlogin()});
    EXPECT_EQ(sharded.exit_code, 2) << sharded.err << "\nsshd:\n" << sshd.log();
    EXPECT_EQ(sharded.out, one.out);
    EXPECT_EQ(tree_difference(dir / "one", dir / "out"), "");
    EXPECT_NE(sshd.log().find("Accepted publickey"), std::string::npos) << "the shards went over ssh";
    EXPECT_FALSE(work_folders_left());
    const char* home = std::getenv("HOME");
    if (home && fs::is_directory(home)) {
        for (const auto& e : fs::directory_iterator(home))
            EXPECT_NE(e.path().filename().string().rfind(".plateshard-", 0), 0u) << "left on the remote: " << e.path();
    }
}
