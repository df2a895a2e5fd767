#include "flat_json.h"

#include <cstdint>
#include <stdexcept>

namespace {

struct Cursor {
    const std::string& text;
    const std::string& name;
    size_t pos = 0;

    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("malformed json: " + name + ": " + what + " at byte " + std::to_string(pos));
    }
    void skip_space() {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n' || text[pos] == '\r'))
            ++pos;
    }
    bool at(char c) {
        skip_space();
        return pos < text.size() && text[pos] == c;
    }
    void expect(char c) {
        if (!at(c)) fail(std::string("expected '") + c + "'");
        ++pos;
    }
};

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

uint32_t read_hex4(Cursor& c) {
    if (c.pos + 4 > c.text.size()) c.fail("short \\u escape");
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
        const char h = c.text[c.pos++];
        v <<= 4;
        if (h >= '0' && h <= '9') v |= static_cast<uint32_t>(h - '0');
        else if (h >= 'a' && h <= 'f') v |= static_cast<uint32_t>(h - 'a' + 10);
        else if (h >= 'A' && h <= 'F') v |= static_cast<uint32_t>(h - 'A' + 10);
        else c.fail("bad \\u escape");
    }
    return v;
}

// platebench writes other control bytes raw, so they are accepted as they are.
std::string read_string(Cursor& c) {
    c.expect('"');
    std::string out;
    while (true) {
        if (c.pos >= c.text.size()) c.fail("unterminated string");
        const char ch = c.text[c.pos++];
        if (ch == '"') return out;
        if (ch != '\\') {
            out += ch;
            continue;
        }
        if (c.pos >= c.text.size()) c.fail("unterminated string");
        const char e = c.text[c.pos++];
        switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            uint32_t cp = read_hex4(c);
            if (cp >= 0xD800 && cp < 0xDC00 && c.text.compare(c.pos, 2, "\\u") == 0) {
                c.pos += 2;
                const uint32_t low = read_hex4(c);
                if (low < 0xDC00 || low > 0xDFFF) c.fail("bad surrogate pair");
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            }
            append_utf8(out, cp);
            break;
        }
        default: c.fail("bad escape");
        }
    }
}

JsonValue read_value(Cursor& c) {
    c.skip_space();
    JsonValue v;
    if (c.at('"')) {
        v.kind = JsonValue::Kind::string;
        v.text = read_string(c);
        return v;
    }
    for (const char* word : {"true", "false", "null"}) {
        const std::string w = word;
        if (c.text.compare(c.pos, w.size(), w) == 0) {
            c.pos += w.size();
            v.kind = w == "null" ? JsonValue::Kind::null : JsonValue::Kind::boolean;
            v.flag = w == "true";
            return v;
        }
    }
    const size_t start = c.pos;
    while (c.pos < c.text.size() && std::string("+-0123456789.eE").find(c.text[c.pos]) != std::string::npos) ++c.pos;
    if (c.pos == start) c.fail("expected a value");
    v.kind = JsonValue::Kind::number;
    v.text = c.text.substr(start, c.pos - start);
    return v;
}

} // namespace

std::map<std::string, JsonValue> parse_flat_json_object(const std::string& text, const std::string& name) {
    Cursor c{text, name};
    std::map<std::string, JsonValue> members;
    c.expect('{');
    if (c.at('}')) {
        ++c.pos;
    } else {
        while (true) {
            const std::string key = read_string(c);
            c.expect(':');
            members[key] = read_value(c);
            if (c.at(',')) {
                ++c.pos;
                continue;
            }
            c.expect('}');
            break;
        }
    }
    c.skip_space();
    if (c.pos != text.size()) c.fail("text after the object");
    return members;
}
