#include "field_stats.h"
#include "html_text.h"
#include "tree_builder.h"

#include <gtest/gtest.h>

namespace {
FrameRow frame(const std::string& expected, const std::string& status, const PlateParts& read) {
    FrameRow f;
    f.expected = expected;
    f.status = status;
    f.region = read[0];
    f.class_no = read[1];
    f.kana = read[2];
    f.serial = read[3];
    return f;
}

std::vector<std::string> listed(const std::vector<Confusion>& list) {
    std::vector<std::string> out;
    for (const auto& c : list) out.push_back(c.expected + ">" + c.read + "x" + std::to_string(c.count));
    return out;
}
} // namespace

TEST(SplitPlateText, FourWhiteSpaceSeparatedFieldsOnly) {
    const struct {
        std::string text;
        bool ok;
        PlateParts parts;
    } cases[] = {
        {"品川 300 あ 12-34", true, {"品川", "300", "あ", "12-34"}},
        {"  品川\t300\r\nあ  12-34 ", true, {"品川", "300", "あ", "12-34"}},
        {"品川 300 あ", false, {}},
        {"品川 300 あ 12 34", false, {}},
        {"品川300あ12-34", false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases) {
        PlateParts p;
        EXPECT_EQ(split_plate_text(c.text, p), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(p, c.parts) << c.text;
        }
    }
}

TEST(FieldReport, CountsMatchesAndConfusionsMostFrequentFirst) {
    const std::vector<FrameRow> frames = {
        frame("品川 300 あ 12-34", "correct", {"品川", "300", "あ", "12-34"}),
        frame("品川 300 あ 12-34", "check", {"品川", "300", "お", "12-34"}),
        frame("品川 300 あ 12-34", "check", {"品川", "800", "お", "12-34"}),
        frame("湘南 555 り 95-93", "check", {"湘南", "555", "", "95-93"}),
        frame("湘南 555 り 95-93", "check", {"", "555", "", "95-98"}),
        frame("会津 513 ゆ 17-66", "check", {"会津", "518", "ゆ", "17-66"}),
        frame("", "unknown", {"x", "y", "z", "w"}),
        frame(" \t", "unknown", {}),
        frame("品川300あ12-34", "check", {"品川", "300", "あ", "12-35"}),
    };
    const FieldReport r = field_report(frames);
    EXPECT_EQ(r.with_expectation, 7);
    EXPECT_EQ(r.compared, 6);
    EXPECT_EQ(r.plates_matched, 1);
    EXPECT_EQ(r.fields[0].matched, 5);
    EXPECT_EQ(r.fields[1].matched, 4);
    EXPECT_EQ(r.fields[2].matched, 2);
    EXPECT_EQ(r.fields[3].matched, 5);
    EXPECT_EQ(listed(r.fields[0].confusions), (std::vector<std::string>{"湘南>x1"}));
    EXPECT_EQ(listed(r.fields[1].confusions), (std::vector<std::string>{"300>800x1", "513>518x1"}));
    EXPECT_EQ(listed(r.fields[2].confusions), (std::vector<std::string>{"あ>おx2", "り>x2"}));
    EXPECT_EQ(listed(r.fields[3].confusions), (std::vector<std::string>{"95-93>95-98x1"}));
}

TEST(FieldReport, EmptyRunHasNothingToCompare) {
    const FieldReport r = field_report({});
    EXPECT_EQ(r.compared, 0);
    EXPECT_TRUE(r.fields[2].confusions.empty());
}

TEST(HtmlEscape, MarkupBytesOnly) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"品川 300", "品川 300"},
        {"<script>&\"'", "&lt;script&gt;&amp;&quot;&#39;"},
        {"&amp;", "&amp;amp;"},
    };
    for (const auto& c : cases) EXPECT_EQ(html_escape(c.in), c.out);
}

TEST(UrlPath, PercentEncodesAllButUnreservedAndSlash) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"cases/g001_f1/rectified_plate.jpg", "cases/g001_f1/rectified_plate.jpg"},
        {"a b#c?d%e", "a%20b%23c%3Fd%25e"},
        {"a\"<'>&", "a%22%3C%27%3E%26"},
        {"あ", "%E3%81%82"},
    };
    for (const auto& c : cases) EXPECT_EQ(url_path(c.in), c.out);
}

TEST(TreeHref, RelativeFromReportFolderToTree) {
    const struct {
        std::string report, tree, href;
    } cases[] = {
        {"out/report.html", "out", ""},
        {"out/report.html", "out/", ""},
        {"/tmp/x/report.html", "/tmp/x/./", ""},
        {"report.html", "out", "out/"},
        {"/tmp/a/b/r.html", "/tmp/run", "../../run/"},
        {"/tmp/run/sub/r.html", "/tmp/run", "../"},
    };
    for (const auto& c : cases) EXPECT_EQ(tree_href(c.report, c.tree), c.href) << c.report << " " << c.tree;
}

TEST(FrameFacts, SharedCaseFolderHoldsTheLastFramesPictures) {
    RunTree tree;
    const auto add = [&](const std::string& image, const std::string& kana) {
        FrameRow f;
        f.image_path = image;
        f.kana = kana;
        tree.frames.push_back(f);
    };
    add("x/dup.jpg", "あ");    // parser's kana or the fallback's: the later frame overwrote the pictures
    add("y/dup.jpg", "");      // an empty kana means the fallback ran and found nothing
    add("z/dup.jpg", "さ");    // last user of the folder
    add("solo.jpg", "い");     // own folder without fallback pictures
    add("a/b.c/e.f.jpg", "");  // no folder at all
    tree.cases["dup"] = {"dup", true, {"kana_fallback_a.jpg", "rectified_plate.jpg"}};
    tree.cases["solo"] = {"solo", true, {"rectified_plate.jpg"}};
    const auto facts = frame_facts(tree);
    ASSERT_EQ(facts.size(), 5u);
    const struct {
        std::string name;
        size_t picture_frame;
        KanaFallback fallback;
    } want[] = {
        {"dup", 2, KanaFallback::unsure}, {"dup", 2, KanaFallback::ran},     {"dup", 2, KanaFallback::ran},
        {"solo", 3, KanaFallback::not_ran}, {"e.f", 4, KanaFallback::not_ran},
    };
    for (size_t i = 0; i < facts.size(); ++i) {
        EXPECT_EQ(facts[i].case_name, want[i].name) << i;
        EXPECT_EQ(facts[i].picture_frame, want[i].picture_frame) << i;
        EXPECT_EQ(facts[i].fallback, want[i].fallback) << i;
    }
}

TEST(FieldReport, FromATreeOnDisk) {
    TestTree t;
    t.frames = {
        {"g1", "a/1.jpg", "品川 300 あ 12-34", "", "check", "", "", "", "", ""},
        {"g1", "a/2.jpg", "品川 300 あ 12-34", "品川 300 あ 12-34", "correct", "品川", "300", "あ", "12-34", "x:y"},
        {"g2", "b/1.jpg", "足立 500 さ 1-23", "足立 500 ち 1-28", "check", "足立", "500", "ち", "1-28", ""},
        {"g2", "b/2.jpg", "足立 500 さ 1-23", "足立 500 ち 1-23", "check", "足立", "500", "ち", "1-23", ""},
        {"g3", "c/1.jpg", "", "足立", "unknown", "足立", "", "", "", ""},
    };
    t.groups = {{"g1", "品川 300 あ 12-34", "品川 300 あ 12-34", "correct", "品川", "300", "あ", "12-34", "2"}};
    const fs::path dir = scratch_dir("field_tree") / "run";
    write_tree(dir, t);
    const RunTree tree = read_run_tree(dir.string());
    EXPECT_EQ(tree.totals.frame_total, 5);
    EXPECT_EQ(tree.groups.at(0).frame_count, 2);
    const FieldReport r = field_report(tree.frames);
    EXPECT_EQ(r.with_expectation, 4);
    EXPECT_EQ(r.compared, 4);
    EXPECT_EQ(r.plates_matched, 1);
    EXPECT_EQ((std::array<long, 4>{r.fields[0].matched, r.fields[1].matched, r.fields[2].matched, r.fields[3].matched}),
              (std::array<long, 4>{3, 3, 1, 2}));
    EXPECT_EQ(listed(r.fields[2].confusions), (std::vector<std::string>{"さ>ちx2", "あ>x1"}));
    EXPECT_EQ(listed(r.fields[3].confusions), (std::vector<std::string>{"1-23>1-28x1", "12-34>x1"}));
}
