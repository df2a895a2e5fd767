#include "driver/text_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {
fs::path fresh_dir(const std::string& name) {
    fs::path dir = fs::temp_directory_path() / ("pb_text_util_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    return dir;
}
} // namespace

TEST(Trim, CLocaleWhiteSpaceOnlyAtTheEnds) {
    const struct {
        std::string in, out;
    } cases[] = {
        {" \t\n\v\f\r", ""},
        {"abc\r", "abc"},
        {"  a b  ", "a b"},
        {"\xE3\x80\x80x\xE3\x80\x80", "\xE3\x80\x80x\xE3\x80\x80"}, // full-width space stays
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(trim(c.in), c.out) << c.in;
}

TEST(RemoveSpaces, OnlySpaceTabCrLf) {
    EXPECT_EQ(remove_spaces(" a\tb\rc\nd"), "abcd");
    EXPECT_EQ(remove_spaces("a\vb\fc"), "a\vb\fc");
    EXPECT_EQ(normalize_plate_text("品川 300\xE3\x80\x80" "あ"), "品川300\xE3\x80\x80" "あ");
}

TEST(BasenameNoExt, PathShapes) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"a/b/c.jpg", "c"}, {"x.tar.gz", "x.tar"}, {"noext", "noext"},
        {"dir/", ""},       {".hidden", ""},       {"a.b/c", "c"},
        {"a\\b.jpg", "a\\b"},
    };
    for (const auto& c : cases) EXPECT_EQ(basename_no_ext(c.in), c.out) << c.in;
}

TEST(Escaping, CsvJsonShell) {
    EXPECT_EQ(csv_escape("plain"), "plain");
    EXPECT_EQ(csv_escape(""), "");
    EXPECT_EQ(csv_escape("a,b"), "\"a,b\"");
    EXPECT_EQ(csv_escape("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csv_escape("a\nb"), "\"a\nb\"");
    EXPECT_EQ(json_escape("a\\b\"c\n\r\t"), "a\\\\b\\\"c\\n\\r\\t");
    EXPECT_EQ(json_escape("\x01" "品"), "\x01" "品");
    EXPECT_EQ(shell_quote(""), "''");
    EXPECT_EQ(shell_quote("it's"), "'it'\\''s'");
    EXPECT_EQ(join_strings({}, " / "), "");
    EXPECT_EQ(join_strings({"a", "b", "c"}, " / "), "a / b / c");
}

TEST(FileExists, DirectoriesAreNoFiles) {
    const fs::path dir = fresh_dir("exists");
    fs::create_directories(dir);
    std::ofstream(dir / "f.txt") << "x";
    EXPECT_TRUE(file_exists((dir / "f.txt").string()));
    EXPECT_FALSE(file_exists(dir.string()));
    EXPECT_FALSE(file_exists((dir / "missing").string()));
    fs::remove_all(dir);
}

TEST(EnsureDir, CreatesParentsAcceptsExistingRefusesBelowAFile) {
    const fs::path dir = fresh_dir("ensure");
    ensure_dir("");
    const std::string nested = (dir / "a" / "b'q\"$(touch pwned)`x`" / "c").string();
    ensure_dir(nested);
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_FALSE(fs::exists("pwned"));
    ensure_dir(nested);
    ensure_dir(nested + "/");

    std::ofstream(dir / "file") << "x";
    const std::string below = (dir / "file" / "sub").string();
    try {
        ensure_dir(below);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "mkdir failed: " + below);
    }
    fs::remove_all(dir);
}
