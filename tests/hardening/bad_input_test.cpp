// Bad input through the real binaries: every row names what was given, the
// exit code, the message on standard error, and what must be left on disk.
#include "child_process.h"
#include "command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string fixture(const std::string& name) { return std::string(FIXTURE_DIR) + "/" + name; }

size_t count_lines(const std::string& text) {
    size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

const char kGoodPlate[] = "品川 300 あ 12-34";

struct Models {
    std::string corner = fixture("corner.onnx");
    std::string text_det = fixture("textdet.onnx");
    std::string text_rec = fixture("rec.onnx");
};

class Hardening : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("pb_hard_" + std::to_string(::getpid()) + "_" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        write_file(dir / "regions.txt", "川\n品川\n");
        write_file(dir / "dict.txt", "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n-\n・\n品\n川\nあ\nさ\n");
        fs::copy_file(fixture("plate.png"), dir / "good.png");
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }

    CommandResult platebench(const std::vector<std::string>& extra, const Models& m = Models(),
                             const std::string& out = "out") {
        std::vector<std::string> args = {PLATEBENCH_BIN,      "--plate-corner-model", m.corner,
                                         "--ppocr-det-model", m.text_det,             "--ppocr-rec-model",
                                         m.text_rec,          "--dict-region",        "regions.txt",
                                         "--ocr-dict",        "dict.txt",             "--input-list",
                                         "list.csv",          "--output-dir",         out};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_command(args, dir.string());
    }
    CommandResult cornercheck(const std::string& model, const std::string& image, const std::string& out) {
        return run_command({CORNERCHECK_BIN, model, image, out}, dir.string());
    }
    std::string read(const fs::path& rel) { return slurp((dir / rel).string()); }
    bool exists(const fs::path& rel) { return fs::exists(dir / rel); }

    // The good first case is complete and its row is in the frame summary.
    void expect_good_case_kept(const std::string& out = "out") {
        EXPECT_NE(read(fs::path(out) / "cases/good/result.txt").find(std::string("final_plate_number: ") + kGoodPlate),
                  std::string::npos);
        EXPECT_TRUE(exists(fs::path(out) / "cases/good/result.json"));
        EXPECT_NE(read(fs::path(out) / "frame_summary.csv").find("good.png,"), std::string::npos);
    }

    fs::path dir;
};

struct ImageRow {
    const char* what;
    const char* fixture_file; // copied in as image_name; null: no such file
    const char* image_name;
    int exit_code;
    const char* message; // on standard error; empty: none required
};

// A good case first, then the bad picture: a failure must keep the first case's files.
const ImageRow kImages[] = {
    {"missing image", nullptr, "missing.jpg", 1, "[ERROR] failed to read image: missing.jpg\n"},
    {"zero-byte image", "zero_bytes.jpg", "zero.jpg", 1, "[ERROR] failed to read image: zero.jpg\n"},
    {"text file named .jpg", "text.jpg", "text.jpg", 1, "[ERROR] failed to read image: text.jpg\n"},
    // The decoder fills the missing rows and says so itself; the picture is used.
    {"truncated JPEG", "truncated.jpg", "truncated.jpg", 0, "Premature end of JPEG file"},
    {"1x1 image", "one_pixel.png", "one.png", 0, ""},
    {"grey PNG", "grey.png", "grey.png", 0, ""},
    {"16-bit PNG", "deep16.png", "deep16.png", 0, ""},
    {"path with spaces and quotes", "plate.png", "a b 'c' d.png", 0, ""},
    {"path with a leading dash", "plate.png", "-x.png", 0, ""},
    {"path with non-ASCII bytes", "plate.png", "\xe5\x93\x81\xff\xfe.png", 0, ""},
};

TEST_F(Hardening, PlatebenchImages) {
    for (const ImageRow& row : kImages) {
        SCOPED_TRACE(row.what);
        fs::remove_all(dir / "out");
        if (row.fixture_file) fs::copy_file(fixture(row.fixture_file), dir / row.image_name, fs::copy_options::overwrite_existing);
        // A double quote cannot be written in a case-list field, so names here have none.
        write_file(dir / "list.csv", std::string("image_path,expected\ngood.png,") + kGoodPlate + "\n\"" + row.image_name + "\",x\n");
        const CommandResult r = platebench({});
        EXPECT_EQ(r.exit_code, row.exit_code) << r.err;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        expect_good_case_kept();
        if (row.exit_code == 0) {
            EXPECT_EQ(count_lines(read("out/frame_summary.csv")), 3u);
            EXPECT_TRUE(exists(fs::path("out/cases") / fs::path(row.image_name).stem() / "result.json"));
            EXPECT_TRUE(exists("out/FINAL_RESULT.json"));
        } else {
            EXPECT_EQ(count_lines(read("out/frame_summary.csv")), 2u);
            EXPECT_FALSE(exists("out/summary.csv"));
            EXPECT_FALSE(exists("out/FINAL_RESULT.json"));
        }
    }
}

TEST_F(Hardening, CornercheckImages) {
    for (const ImageRow& row : kImages) {
        SCOPED_TRACE(row.what);
        fs::remove_all(dir / "out");
        if (row.fixture_file) fs::copy_file(fixture(row.fixture_file), dir / row.image_name, fs::copy_options::overwrite_existing);
        const CommandResult r = cornercheck(fixture("corner.onnx"), row.image_name, "out");
        const int expected = row.exit_code == 0 ? 0 : 2;
        EXPECT_EQ(r.exit_code, expected) << r.err;
        if (expected == 2) {
            EXPECT_EQ(r.err, std::string("failed to read image: ") + row.image_name + "\n");
        }
        EXPECT_EQ(exists("out/result.txt"), expected == 0);
    }
    // Only the command line can carry a double quote into the path.
    fs::copy_file(fixture("plate.png"), dir / "q\"uote.png");
    const CommandResult r = cornercheck(fixture("corner.onnx"), "q\"uote.png", "out");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(read("out/result.txt").find("image_path=q\"uote.png\n"), std::string::npos);
}

struct ListRow {
    const char* what;
    std::string content;
    int exit_code;
    const char* message;
    size_t summary_lines; // of frame_summary.csv, header included
};

TEST_F(Hardening, PlatebenchCaseLists) {
    std::string ten_thousand = "image_path,expected\nmissing.png,x\n";
    for (int i = 1; i < 10000; ++i) ten_thousand += "good.png,x\n";
    const ListRow rows[] = {
        // No byte-order-mark handling: the marked header is a case whose image does not exist.
        {"byte-order mark", "\xef\xbb\xbfimage_path,expected\ngood.png,x\n", 1,
         "[ERROR] failed to read image: \xef\xbb\xbfimage_path\n", 1},
        {"CRLF line ends", "image_path,expected,group_id\r\ngood.png,x,G\r\n", 0, "", 2},
        {"no final newline", "image_path,expected\ngood.png,x\ngood.png,y", 0, "", 3},
        {"10,000 rows", ten_thousand, 1, "[INFO] cases=10000\n", 1},
        {"quotes and commas", "image_path,expected,group_id\n\"good.png\",\"品川 300, \"\"あ\"\" 12-34\",\"G,1\"\n", 0, "", 2},
        {"only a header", "image_path,expected,group_id\n", 0, "[INFO] cases=0\n", 1},
        {"empty file", "", 0, "[INFO] cases=0\n", 1},
    };
    for (const ListRow& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(dir / "out");
        write_file(dir / "list.csv", row.content);
        const CommandResult r = platebench({});
        EXPECT_EQ(r.exit_code, row.exit_code) << r.err;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        EXPECT_EQ(count_lines(read("out/frame_summary.csv")), row.summary_lines);
    }
    // Field values come through without the carriage return and with the comma kept.
    write_file(dir / "list.csv", "image_path,expected,group_id\r\ngood.png,x,G\r\n");
    ASSERT_EQ(platebench({}).exit_code, 0);
    EXPECT_NE(read("out/summary.csv").find("\nG,x,"), std::string::npos);
    write_file(dir / "list.csv", "image_path,expected,group_id\n\"good.png\",\"a, b\",\"G,1\"\n");
    ASSERT_EQ(platebench({}).exit_code, 0);
    EXPECT_NE(read("out/summary.csv").find("\n\"G,1\",\"a, b\","), std::string::npos);
}

struct ModelRow {
    const char* what;
    const char* stage; // corner, det or rec
    const char* file;
    int exit_code;
    std::string message;
};

TEST_F(Hardening, PlatebenchModels) {
    const ModelRow rows[] = {
        {"zero-byte corner model", "corner", "zero_bytes.onnx", 1,
         "[ERROR] rknn_init failed: " + fixture("zero_bytes.onnx") + ", ret=-2\n"},
        {"truncated corner model", "corner", "truncated.onnx", 1,
         "[ERROR] rknn_init failed: " + fixture("truncated.onnx") + ", ret=-2\n"},
        {"text file as recogniser", "rec", "text.onnx", 1,
         "[ERROR] rknn_init failed: " + fixture("text.onnx") + ", ret=-2\n"},
        {"zero-byte text detector", "det", "zero_bytes.onnx", 1,
         "[ERROR] rknn_init failed: " + fixture("zero_bytes.onnx") + ", ret=-2\n"},
        // The importer would read past the end of a tensor's data for these two.
        {"initializer shorter than its dimensions", "corner", "short_initializer.onnx", 1,
         "[ERROR] rknn_init failed: " + fixture("short_initializer.onnx") + ", ret=-2\n"},
        {"constant shorter than its dimensions", "corner", "short_constant.onnx", 1,
         "[ERROR] rknn_init failed: " + fixture("short_constant.onnx") + ", ret=-2\n"},
        {"missing model", "rec", "no_such.onnx", 1, "[ERROR] missing required file: " + fixture("no_such.onnx") + "\n"},
        {"corner model with four values", "corner", "corner_four_values.onnx", 1, "[ERROR] plate_corner output invalid\n"},
        {"corner model with NaN corners", "corner", "corner_nan.onnx", 0, ""},
        {"corner model with huge corners", "corner", "corner_huge.onnx", 0, ""},
        {"non-square text map", "det", "textdet_not_square.onnx", 0, "[WARN] unexpected ppocr det output elems=1200, skip DB boxes.\n"},
        {"recogniser with two classes too many", "rec", "rec_wrong_classes.onnx", 0,
         "[WARN] OCR dict size still does not match rec output classes. CTC decode may be wrong.\n"},
        {"text detector given as recogniser", "rec", "textdet.onnx", 1,
         "[ERROR] rknn_inputs_set failed: " + fixture("textdet.onnx") + ", ret=-8\n"},
        {"recogniser given as corner model", "corner", "rec.onnx", 1,
         "[ERROR] rknn_inputs_set failed: " + fixture("rec.onnx") + ", ret=-8\n"},
    };
    write_file(dir / "list.csv", std::string("image_path,expected\ngood.png,") + kGoodPlate + "\n");
    for (const ModelRow& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(dir / "out");
        Models m;
        const std::string path = fixture(row.file);
        if (std::string(row.stage) == "corner") m.corner = path;
        if (std::string(row.stage) == "det") m.text_det = path;
        if (std::string(row.stage) == "rec") m.text_rec = path;
        const CommandResult r = platebench({}, m);
        EXPECT_EQ(r.exit_code, row.exit_code) << r.err;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        EXPECT_EQ(exists("out/FINAL_RESULT.json"), row.exit_code == 0);
    }
}

TEST_F(Hardening, PlatebenchDetectorModels) {
    write_file(dir / "list.csv", "image_path,expected\ngood.png,x\n");
    const CommandResult five = platebench({"--input-mode", "frame", "--plate-det-model", fixture("plate_det_five_values.onnx")});
    EXPECT_EQ(five.exit_code, 0) << five.err;
    EXPECT_NE(five.err.find("[WARN] plate_det produced no valid final boxes. Fallback to full image ROI.\n"), std::string::npos);
    const CommandResult text = platebench({"--input-mode", "frame", "--plate-det-model", fixture("text.onnx")});
    EXPECT_EQ(text.exit_code, 1);
    EXPECT_NE(text.err.find("[ERROR] rknn_init failed: " + fixture("text.onnx") + ", ret=-2\n"), std::string::npos);
}

TEST_F(Hardening, CornercheckModels) {
    const struct {
        const char* file;
        int exit_code;
        std::string message;
    } rows[] = {
        {"zero_bytes.onnx", 3, "rknn_init failed: -2\nfailed to load plate corner RKNN model: " + fixture("zero_bytes.onnx") + "\n"},
        {"truncated.onnx", 3, "rknn_init failed: -2\nfailed to load plate corner RKNN model: " + fixture("truncated.onnx") + "\n"},
        {"text.onnx", 3, "rknn_init failed: -2\nfailed to load plate corner RKNN model: " + fixture("text.onnx") + "\n"},
        {"no_such.onnx", 3, "failed to load plate corner RKNN model: " + fixture("no_such.onnx") + "\n"},
        {"short_initializer.onnx", 3, "rknn_init failed: -2\n"},
        {"short_constant.onnx", 3, "rknn_init failed: -2\n"},
        {"corner_four_values.onnx", 5, "invalid plate corner output size: 4\n"},
        {"corner_nan.onnx", 10, ""},
        {"corner_huge.onnx", 10, ""},
        {"textdet.onnx", 4, "plate corner rknn inference failed\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        fs::remove_all(dir / "out");
        const CommandResult r = cornercheck(fixture(row.file), "good.png", "out");
        EXPECT_EQ(r.exit_code, row.exit_code) << r.err;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        EXPECT_EQ(exists("out/result.txt"), row.exit_code == 0 || row.exit_code == 10);
    }
}

TEST_F(Hardening, OutputDirectories) {
    write_file(dir / "list.csv", "image_path,expected\ngood.png,x\n");
    write_file(dir / "a_file", "x");
    const CommandResult file = platebench({}, Models(), "a_file");
    EXPECT_EQ(file.exit_code, 1);
    EXPECT_NE(file.err.find("[ERROR] mkdir failed: a_file\n"), std::string::npos) << file.err;
    // A read-only file system stops even the superuser.
    const CommandResult proc = platebench({}, Models(), "/proc");
    EXPECT_EQ(proc.exit_code, 1);
    EXPECT_NE(proc.err.find("[ERROR] mkdir failed: /proc/cases\n"), std::string::npos) << proc.err;

    const std::string odd = "o $(touch pwned) `touch pwned2`;&|<>*?'\"";
    const CommandResult meta = platebench({}, Models(), odd);
    EXPECT_EQ(meta.exit_code, 0) << meta.err;
    EXPECT_TRUE(exists(fs::path(odd) / "FINAL_RESULT.json"));
    EXPECT_FALSE(exists("pwned") || exists("pwned2"));

    // The corner check only warns about its directory, then fails on the record.
    const CommandResult cc_file = cornercheck(fixture("corner.onnx"), "good.png", "a_file");
    EXPECT_EQ(cc_file.exit_code, 6);
    EXPECT_NE(cc_file.err.find("warning: mkdir failed for a_file, ret="), std::string::npos) << cc_file.err;
    EXPECT_NE(cc_file.err.find("[ERROR] failed to write file: a_file/result.txt\n"), std::string::npos) << cc_file.err;
    const CommandResult cc_meta = cornercheck(fixture("corner.onnx"), "good.png", odd);
    EXPECT_EQ(cc_meta.exit_code, 0) << cc_meta.err;
    EXPECT_TRUE(exists(fs::path(odd) / "result.txt"));
    EXPECT_FALSE(exists("pwned") || exists("pwned2"));
}

// Permissions do not stop the superuser, a read-only file system does.
TEST_F(Hardening, ReadOnlyOutputDirectory) {
    write_file(dir / "list.csv", "image_path,expected\ngood.png,x\n");
    fs::create_directories(dir / "ro");
    std::unique_ptr<ScratchMount> ro;
    if (::geteuid() == 0) {
        ro = std::make_unique<ScratchMount>((dir / "ro").string(), "ro,size=64k");
        ASSERT_TRUE(ro->mounted()) << "cannot mount a read-only tmpfs";
    } else {
        fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    }
    const CommandResult r = platebench({}, Models(), "ro");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("[ERROR] mkdir failed: ro/cases\n"), std::string::npos) << r.err;
    ro.reset();
    fs::permissions(dir / "ro", fs::perms::owner_all);
}

// Slow: the kana-less reading would make the kana fallback scale the whole
// 8000 x 6000 region several times over, so this recogniser reads a kana.
TEST_F(Hardening, HugeImage) {
    fs::copy_file(fixture("huge_8000x6000.jpg"), dir / "huge.jpg");
    write_file(dir / "list.csv", "image_path,expected\nhuge.jpg,x\n");
    const CommandResult r = platebench({});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(exists("out/cases/huge/result.json"));
    const CommandResult cc = cornercheck(fixture("corner.onnx"), "huge.jpg", "cc");
    EXPECT_EQ(cc.exit_code, 0) << cc.err;
    EXPECT_TRUE(exists("cc/result.txt"));
}

} // namespace
