#include "driver/text_util.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace {
bool is_c_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
} // namespace

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && is_c_space(s[b])) ++b;
    while (e > b && is_c_space(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::string remove_spaces(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') out += c;
    return out;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string normalize_plate_text(const std::string& s) { return remove_spaces(s); }

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

std::string basename_no_ext(const std::string& path) {
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.resize(dot);
    return name;
}

std::string join_strings(const std::vector<std::string>& items, const std::string& sep) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += sep;
        out += items[i];
    }
    return out;
}

std::string csv_escape(const std::string& s) {
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string json_escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return out;
}

std::string shell_quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

bool file_exists(const std::string& path) {
    // A directory opens for reading on Linux but is no file to load.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    return in.good();
}

void ensure_dir(const std::string& path) {
    if (path.empty()) return;
    // Created without a shell, so no path can be read as a command.
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec || !std::filesystem::is_directory(path, ec)) throw std::runtime_error("mkdir failed: " + path);
}
