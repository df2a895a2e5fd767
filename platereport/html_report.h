// The report page: one self-contained HTML file with inline CSS and one small
// inline script (nothing is fetched); pictures are linked by relative path into
// the output tree.
#pragma once

#include "run_tree.h"

#include <string>

// & < > " ' as character references; every other byte as it is.
std::string html_escape(const std::string& s);
// Percent-encodes every byte of a path except letters, digits, "-._~" and "/".
std::string url_path(const std::string& s);
// The link prefix that leads from the folder of `report_file` to `tree_dir`: ""
// when the report sits in the tree, else a relative path ending in "/".
std::string tree_href(const std::string& report_file, const std::string& tree_dir);

// tree_prefix is put in front of every link into the tree (see tree_href).
std::string render_report(const RunTree& tree, const std::string& tree_prefix);

// Throws "failed to write: " + path.
void write_text_file(const std::string& path, const std::string& text);
