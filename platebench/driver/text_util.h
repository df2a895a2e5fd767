// Byte-string, path and file helpers shared across platebench.
#pragma once

#include <string>
#include <vector>

// White space is the C locale's: space, \t, \n, \v, \f, \r.
std::string trim(const std::string& s);
// Drops space, tab, CR and LF bytes only.
std::string remove_spaces(const std::string& s);
// Byte-wise substring search.
bool contains(const std::string& text, const std::string& part);
std::string normalize_plate_text(const std::string& s);
bool is_ascii_digit(char c);
// a/b/c.jpg -> c; only "/" separates directories.
std::string basename_no_ext(const std::string& path);
std::string join_strings(const std::vector<std::string>& items, const std::string& sep);
std::string csv_escape(const std::string& s);
std::string json_escape(const std::string& s);
std::string shell_quote(const std::string& s);
// True for a path that opens for reading as a regular file (not a directory).
bool file_exists(const std::string& path);
// Creates the directory and its parents; throws "mkdir failed: " + path.
void ensure_dir(const std::string& path);
