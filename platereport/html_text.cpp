#include "html_text.h"

#include <filesystem>

namespace fs = std::filesystem;

std::string html_escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string url_path(const std::string& s) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~' || c == '/') {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string tree_href(const std::string& report_file, const std::string& tree_dir) {
    const fs::path from = fs::absolute(report_file).lexically_normal().parent_path();
    const fs::path to = fs::absolute(tree_dir).lexically_normal();
    std::string rel = to.lexically_relative(from).generic_string();
    if (rel.empty() || rel == ".") return "";
    if (rel.back() == '/') rel.pop_back();
    return rel + "/";
}
