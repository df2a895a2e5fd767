// A reader for flat JSON objects such as FINAL_RESULT.json: members whose values
// are strings, numbers, true, false or null, no nesting.
#pragma once

#include <map>
#include <string>

struct JsonValue {
    enum class Kind { string, number, boolean, null };
    Kind kind = Kind::null;
    std::string text; // the decoded string, or the number as written
    bool flag = false;
};

// Member name -> value; a repeated name keeps its last value. `name` goes into
// error messages. Throws "malformed json: " + name + detail.
std::map<std::string, JsonValue> parse_flat_json_object(const std::string& text, const std::string& name);
