// One JSON object on one line, built key by key, for machine-readable
// output. Text is taken as bytes: printable ASCII and well-formed UTF-8 stay
// as they are, the quote, the backslash and control characters are escaped,
// and any other byte above 0x7F becomes \u00XX (its Latin-1 reading), so any
// input gives valid JSON and UTF-8 names come back as they went in.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class JsonObject {
public:
    void AddText(const char* key, const char* bytes, size_t length);
    void AddText(const char* key, const std::string& text);
    void AddInteger(const char* key, long long value);
    // Non-finite values have no JSON form and are written as null.
    void AddNumber(const char* key, double value);
    void AddBool(const char* key, bool value);
    // A list of texts: ["a","b"].
    void AddTextList(const char* key, const std::vector<std::string>& texts);
    // A list of objects: [{...},{...}].
    void AddObjectList(const char* key, const std::vector<JsonObject>& objects);
    // A value already in JSON form: null, a nested object's Text(), a list.
    void AddJson(const char* key, const std::string& json);
    // The finished object: "{...}".
    std::string Text() const { return "{" + members + "}"; }

private:
    void AddKey(const char* key);
    std::string members;
};

// `bytes` as a quoted JSON string.
std::string JsonString(const char* bytes, size_t length);
