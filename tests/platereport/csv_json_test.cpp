#include "csv_table.h"
#include "flat_json.h"

#include <gtest/gtest.h>

#include <stdexcept>

using Records = std::vector<std::vector<std::string>>;

namespace {
Records fields_of(const std::string& text) {
    Records out;
    for (const auto& r : parse_csv_records(text, "t.csv")) out.push_back(r.fields);
    return out;
}
} // namespace

TEST(CsvRecords, ReadsWhatPlatebenchWrites) {
    const struct {
        std::string text;
        Records records;
    } cases[] = {
        {"", {}},
        {"a,b\n", {{"a", "b"}}},
        {"a,b", {{"a", "b"}}},
        {"a,,\n", {{"a", "", ""}}},
        {"a,", {{"a", ""}}},
        {"\"x,y\",z\n", {{"x,y", "z"}}},
        {"\"say \"\"hi\"\"\"\n", {{"say \"hi\""}}},
        {"\"two\nlines\",b\nc,d\n", {{"two\nlines", "b"}, {"c", "d"}}},
        {"\"\",x\n", {{"", "x"}}},
        {"a,b\r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}},
        {"品川 300 あ 12-34,<b>&\n", {{"品川 300 あ 12-34", "<b>&"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(fields_of(c.text), c.records) << c.text;
}

TEST(CsvRecords, RecordLinesCountQuotedLineFeeds) {
    const auto records = parse_csv_records("h\n\"a\nb\"\nc\n", "t.csv");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].line, 2);
    EXPECT_EQ(records[2].line, 4);
}

TEST(CsvRecords, MalformedTextNamesFileAndLine) {
    const struct {
        std::string text, message;
    } cases[] = {
        {"a,\"open\n", "malformed csv: t.csv: line 1: unterminated quoted field"},
        {"a\nb,\"x\"y\n", "malformed csv: t.csv: line 2: text after a closing quote"},
        {"a,b\"c\n", "malformed csv: t.csv: line 1: quote inside an unquoted field"},
    };
    for (const auto& c : cases) {
        try {
            parse_csv_records(c.text, "t.csv");
            ADD_FAILURE() << "no error for " << c.text;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

TEST(FlatJson, ReadsFinalResultMembers) {
    const auto m = parse_flat_json_object(
        "{\n  \"input_mode\": \"r\\\"o\\\\i\\u3042\",\n  \"use_plate_det\": true,\n  \"frame_total\": 12,\n"
        "  \"x\": null\n}\n",
        "F.json");
    EXPECT_EQ(m.at("input_mode").text, "r\"o\\iあ");
    EXPECT_EQ(m.at("use_plate_det").kind, JsonValue::Kind::boolean);
    EXPECT_TRUE(m.at("use_plate_det").flag);
    EXPECT_EQ(m.at("frame_total").kind, JsonValue::Kind::number);
    EXPECT_EQ(m.at("frame_total").text, "12");
    EXPECT_EQ(m.at("x").kind, JsonValue::Kind::null);
    EXPECT_TRUE(parse_flat_json_object(" {} ", "F.json").empty());
}

TEST(FlatJson, RejectsBrokenObjects) {
    for (const std::string text : {"", "[1]", "{\"a\": }", "{\"a\": 1,}", "{\"a\": \"x}", "{\"a\": 1} x", "{\"a\" 1}"}) {
        EXPECT_THROW(parse_flat_json_object(text, "F.json"), std::runtime_error) << text;
    }
}
