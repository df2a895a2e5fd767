#include "driver/case_list.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {
const TempDir lists("case_list");

std::string write_temp(const std::string& name, const std::string& content) {
    const std::string path = lists.file(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string describe(const std::vector<CaseItem>& items) {
    std::string s;
    for (const auto& c : items) s += "[" + c.image_path + "|" + c.expected + "|" + c.group_id + "]";
    return s;
}
} // namespace

TEST(SplitCsvSimple, QuotesAndTrimming) {
    const struct {
        std::string line;
        std::vector<std::string> fields;
    } cases[] = {
        {"a,b,c", {"a", "b", "c"}},
        {" a , b ", {"a", "b"}},
        {"\"x,y\",z", {"x,y", "z"}},
        {"\"a\"\"b\"", {"ab"}},
        {"a,", {"a", ""}},
        {"", {""}},
        {"ab\"c,d", {"abc,d"}},
        {"品川 300,\"あ\"", {"品川 300", "あ"}},
    };
    for (const auto& c : cases) EXPECT_EQ(split_csv_simple(c.line), c.fields) << c.line;
}

TEST(ReadInputList, HeadersPositionsAndDefaults) {
    const struct {
        std::string content;
        std::string cases;
    } table[] = {
        {"image_path,expected,group_id\na/b/c.jpg,品川 300 あ 12-34,\n", "[a/b/c.jpg|品川 300 あ 12-34|c]"},
        {"x.jpg,ABC", "[x.jpg|ABC|x]"},
        {"group_id,image_path\n", "[group_id|image_path|group_id]"},
        {"image_path,note,expected\np.jpg,n\nq.jpg,n,E\n", "[p.jpg||p][q.jpg|E|q]"},
        {"expected,x\nimage_path,expected\n", "[expected|x|expected][image_path|expected|image_path]"},
        {"image_path,expected,image_path\nA,B,C\n", "[C|B|C]"},
        {",skipped\n  \n\t\n#c.jpg,E,G\r\n", "[#c.jpg|E|G]"},
        {"image_path,expected,group_id\n", ""},
        {"", ""},
        {"d1/x.jpg,E\nd2/x.jpg,F\n", "[d1/x.jpg|E|x][d2/x.jpg|F|x]"},
        {"\n\nimage_path,group_id,expected\r\nq.png,G1,\"a,b\"", "[q.png|a,b|G1]"},
    };
    for (size_t i = 0; i < std::size(table); ++i) {
        const std::string path = write_temp("list" + std::to_string(i), table[i].content);
        EXPECT_EQ(describe(read_input_list(path)), table[i].cases) << table[i].content;
    }
}

TEST(ReadInputList, MissingFileThrows) {
    try {
        read_input_list("/nonexistent/list.csv");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "failed to open input list: /nonexistent/list.csv");
    }
}

TEST(ReadTrimmedLines, TrimsDropsBlanksKeepsBom) {
    const std::string crlf = write_temp("crlf", "a\r\n\r\n b \r\n \r\n\xE3\x80\x80\r\nlast");
    const std::string lf = write_temp("lf", "a\n\n b \n \n\xE3\x80\x80\nlast\n");
    const std::vector<std::string> want = {"a", "b", "\xE3\x80\x80", "last"};
    EXPECT_EQ(read_trimmed_lines(crlf), want);
    EXPECT_EQ(read_trimmed_lines(lf), want);
    EXPECT_EQ(read_trimmed_lines(write_temp("bom", "\xEF\xBB\xBF" "0\n1\n")),
              (std::vector<std::string>{"\xEF\xBB\xBF" "0", "1"}));
    try {
        read_trimmed_lines("/nonexistent/dict.txt");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "failed to open: /nonexistent/dict.txt");
    }
}
