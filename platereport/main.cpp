// platereport: turns one platebench output tree into an HTML report.
#include "html_report.h"
#include "html_text.h"
#include "run_tree.h"

#include <iostream>
#include <stdexcept>
#include <string>

namespace {

const char* const usage = "usage: platereport OUTPUT_DIR [--out FILE]\n"
                          "  Reads the files platebench wrote into OUTPUT_DIR and writes one HTML report\n"
                          "  (default OUTPUT_DIR/report.html); pictures are linked by relative path.\n";

} // namespace

int main(int argc, char** argv) {
    std::string dir, out_file;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "-h" || arg == "--help") {
                std::cout << usage;
                return 0;
            }
            if (arg == "--out") {
                if (i + 1 >= argc) throw std::runtime_error("missing value for --out");
                out_file = argv[++i];
            } else if (!arg.empty() && arg[0] == '-') {
                throw std::runtime_error("unknown argument: " + arg);
            } else if (dir.empty()) {
                dir = arg;
            } else {
                throw std::runtime_error("unexpected argument: " + arg);
            }
        }
        if (dir.empty()) {
            std::cerr << usage;
            return 1;
        }
        // Keep joined paths free of a doubled separator.
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        if (out_file.empty()) out_file = dir + "/report.html";
        const RunTree tree = read_run_tree(dir);
        write_text_file(out_file, render_report(tree, tree_href(out_file, dir)));
        std::cout << "report=" << out_file << " frames=" << tree.frames.size() << " groups=" << tree.groups.size()
                  << "\n";
    } catch (const std::exception& e) {
        std::cerr << "[ERROR] " << e.what() << "\n";
        return 1;
    }
    return 0;
}
