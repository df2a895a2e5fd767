// The report page: one self-contained HTML file with inline CSS and one small
// inline script (nothing is fetched); pictures are linked by relative path into
// the output tree.
#pragma once

#include "run_tree.h"

#include <string>

// tree_prefix is put in front of every link into the tree (see tree_href in html_text.h).
std::string render_report(const RunTree& tree, const std::string& tree_prefix);

// Throws "failed to write: " + path.
void write_text_file(const std::string& path, const std::string& text);
