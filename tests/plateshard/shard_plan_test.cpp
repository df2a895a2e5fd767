// Reading a case list with its lines, cutting it into shards, and the
// pieces of a shard run that need no program: the frame table reader and
// the platebench options a shard gets.
#include "case_rows.h"
#include "frame_table.h"
#include "shard_plan.h"
#include "shard_run.h"
#include "temp_dir.h"

#include "driver/case_list.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {
const TempDir scratch("shard_plan");

std::string write_temp(const std::string& name, const std::string& content) {
    const std::string path = scratch.file(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string describe(const std::vector<CaseItem>& items) {
    std::string s;
    for (const auto& c : items) s += "[" + c.image_path + "|" + c.expected + "|" + c.group_id + "]";
    return s;
}

std::vector<CaseItem> items(const std::vector<std::pair<std::string, std::string>>& path_and_group) {
    std::vector<CaseItem> out;
    for (const auto& [path, group] : path_and_group) out.push_back({path, "", group});
    return out;
}
} // namespace

TEST(ReadCaseRows, ReadsTheCasesPlatebenchReads) {
    const std::string lists[] = {
        "image_path,expected,group_id\na/b/c.jpg,品川 300 あ 12-34,\n",
        "x.jpg,ABC",
        "group_id,image_path\n",
        "image_path,note,expected\np.jpg,n\nq.jpg,n,E\n",
        "image_path,expected,image_path\nA,B,C\n",
        ",skipped\n  \n\t\n#c.jpg,E,G\r\n",
        "image_path,expected,group_id\n",
        "",
        "\n\nimage_path,group_id,expected\r\nq.png,G1,\"a,b\"",
        "\xEF\xBB\xBFimage_path,expected\nx.jpg,E\n",
        "image_path\n,\nimage_path,E,G\n",
    };
    for (size_t i = 0; i < std::size(lists); ++i) {
        const std::string path = write_temp("rows" + std::to_string(i) + ".csv", lists[i]);
        EXPECT_EQ(describe(case_items(read_case_rows(path))), describe(read_input_list(path))) << lists[i];
    }
}

TEST(ReadCaseRows, KeepsTheHeaderAndEachCaseLine) {
    const CaseRows list = read_case_rows(write_temp("lines.csv", "\n image_path,expected,group_id \r\n\n"
                                                                 "a.jpg,\"x,y\",G\n,none,G\n  b.jpg,z,H\r\n"));
    EXPECT_EQ(list.header, "image_path,expected,group_id");
    ASSERT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(list.rows[0].line_no, 4u);
    EXPECT_EQ(list.rows[0].line, "a.jpg,\"x,y\",G");
    EXPECT_EQ(list.rows[1].line_no, 6u);
    EXPECT_EQ(list.rows[1].line, "b.jpg,z,H");
    EXPECT_THROW(read_case_rows(scratch.file("absent.csv")), std::runtime_error);
}

TEST(AssignShards, KeepsGroupsAndCaseFoldersWhole) {
    const struct {
        const char* what;
        std::vector<CaseItem> cases;
        int shards;
        std::vector<int> want;
    } table[] = {
        {"one frame per group, alternating by load", items({{"a.jpg", "A"}, {"b.jpg", "B"}, {"c.jpg", "C"}}), 2,
         {0, 1, 0}},
        {"a group's frames anywhere in the list", items({{"a1.jpg", "A"}, {"b.jpg", "B"}, {"a2.jpg", "A"}}), 2,
         {0, 1, 0}},
        {"largest group first", items({{"b.jpg", "B"}, {"a1.jpg", "A"}, {"a2.jpg", "A"}, {"c.jpg", "C"}}), 2,
         {1, 0, 0, 1}},
        {"two groups sharing a case folder", items({{"d1/x.jpg", "A"}, {"y.jpg", "B"}, {"d2/x.jpg", "C"}}), 2,
         {0, 1, 0}},
        {"chained through group and folder",
         items({{"d1/x.jpg", "A"}, {"d2/x.jpg", "B"}, {"z.jpg", "B"}, {"w.jpg", "D"}, {"v.jpg", "E"}}), 3,
         {0, 0, 0, 1, 2}},
        {"more shards than clusters", items({{"a.jpg", "A"}, {"b.jpg", "A"}}), 3, {0, 0}},
        {"the names . and empty are one folder", items({{"a/.jpg", "A"}, {"b/..jpg", "B"}}), 2, {0, 0}},
        {"no cases", {}, 4, {}},
    };
    for (const auto& t : table) EXPECT_EQ(assign_shards(t.cases, t.shards), t.want) << t.what;
}

TEST(AssignShards, BalancesFrameCounts) {
    std::vector<CaseItem> cases;
    for (int g = 0; g < 40; ++g)
        for (int f = 0; f <= g % 5; ++f)
            cases.push_back({"g" + std::to_string(g) + "_" + std::to_string(f) + ".jpg", "", "G" + std::to_string(g)});
    const std::vector<int> shard_of = assign_shards(cases, 3);
    std::vector<int> load(3, 0);
    for (int s : shard_of) ++load[s];
    EXPECT_EQ(load, (std::vector<int>{40, 40, 40}));
    EXPECT_EQ(cluster_count(cases), 40);
}

TEST(WriteShardLists, HeaderRowsInListOrderAndManifest) {
    const TempDir out("shard_lists");
    const CaseRows with_header =
        read_case_rows(write_temp("h.csv", "image_path,group_id,expected\na.jpg,A,1\nb.jpg,B,2\nc.jpg,A,3\n"));
    const std::vector<int> shard_of = assign_shards(case_items(with_header), 2);
    const std::vector<std::string> paths = write_shard_lists(with_header, shard_of, 2, out.path, "shard_");
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(slurp(paths[0]), "image_path,group_id,expected\na.jpg,A,1\nc.jpg,A,3\n");
    EXPECT_EQ(slurp(paths[1]), "image_path,group_id,expected\nb.jpg,B,2\n");
    write_manifest(with_header, shard_of, 2, out.path, "shard_");
    EXPECT_EQ(slurp(out.file("manifest.csv")),
              "line,shard,image_path,group_id\n2,shard_000,a.jpg,A\n3,shard_001,b.jpg,B\n4,shard_000,c.jpg,A\n");

    // Without a header a shard whose first case is named image_path would
    // lose it to header detection; the column names keep it a case.
    const CaseRows bare = read_case_rows(write_temp("bare.csv", "x.jpg,E,G\nimage_path,F,H\n"));
    const std::vector<std::string> bare_paths = write_shard_lists(bare, {0, 1}, 2, out.path, "bare_");
    EXPECT_EQ(slurp(bare_paths[1]), "image_path,expected,group_id\nimage_path,F,H\n");
    EXPECT_EQ(describe(read_input_list(bare_paths[1])), "[image_path|F|H]");
}

TEST(SplitCsvRecords, ReadsWhatCsvEscapeWrote) {
    const struct {
        std::string content;
        std::vector<std::vector<std::string>> fields;
        bool truncated;
    } table[] = {
        {"a,b\n", {{"a", "b"}}, false},
        {"\"x,y\",\"say \"\"hi\"\"\"\n", {{"x,y", "say \"hi\""}}, false},
        {"\"two\nlines\",z\nnext,\n", {{"two\nlines", "z"}, {"next", ""}}, false},
        {" keep , spaces \n", {{" keep ", " spaces "}}, false},
        {"a,b\nc,d", {{"a", "b"}}, true},
        {"a,\"open\n", {}, true},
        {"", {}, false},
    };
    for (const auto& t : table) {
        const CsvRecords r = split_csv_records(t.content);
        std::vector<std::vector<std::string>> got;
        std::string joined;
        for (const auto& rec : r.records) {
            got.push_back(rec.fields);
            joined += t.content.substr(rec.offset, rec.length);
        }
        EXPECT_EQ(got, t.fields) << t.content;
        EXPECT_EQ(r.truncated, t.truncated) << t.content;
        if (!t.truncated) {
            EXPECT_EQ(joined, t.content) << "records keep their bytes";
        }
    }
}

TEST(ShardPlatebenchArgs, LeavesTheWholeRunsOptionsOut) {
    const struct {
        std::vector<std::string> given, kept;
    } table[] = {
        {{"--input-mode", "frame", "--input-list", "l.csv", "--output-dir", "o", "--fail-on-error"},
         {"--input-mode", "frame"}},
        {{"--ocr-dict", "--output-dir", "--plate-det-thresh", "0.5"},
         {"--ocr-dict", "--output-dir", "--plate-det-thresh", "0.5"}},
        {{"--output-dir", "--fail-on-error", "--fail-on-error"}, {}},
        {{"--input-list"}, {}},
    };
    for (const auto& t : table) EXPECT_EQ(shard_platebench_args(t.given), t.kept);
}

TEST(MachineCount, CountsLoginsAndLoginFileLines) {
    const std::string file = write_temp("logins", "# ours\nhostA\n\n  4/ssh -p 2222 hostB\n#x\n");
    const struct {
        std::vector<std::string> logins, files;
        int machines;
    } table[] = {
        {{}, {}, 1},
        {{"a,b", ":"}, {}, 3},
        {{"ssh -o a\\,b host"}, {}, 1},
        {{"a,,b"}, {}, 1},
        {{"a"}, {file}, 3},
    };
    for (const auto& t : table) {
        RunOptions o;
        o.sshlogins = t.logins;
        o.sshlogin_files = t.files;
        EXPECT_EQ(machine_count(o), t.machines);
    }
}
