// Escaping for HTML text and attributes, and the relative links into the tree.
#pragma once

#include <string>

// & < > " ' as character references; every other byte as it is.
std::string html_escape(const std::string& s);
// Percent-encodes every byte of a path except letters, digits, "-._~" and "/".
std::string url_path(const std::string& s);
// The link prefix that leads from the folder of `report_file` to `tree_dir`: ""
// when the report sits in the tree, else a relative path ending in "/".
std::string tree_href(const std::string& report_file, const std::string& tree_dir);
