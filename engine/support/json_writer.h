// One JSON object on one line, built key by key, for machine-readable
// output. Text is taken as bytes: printable ASCII and well-formed UTF-8 stay
// as they are, the quote, the backslash and control characters are escaped,
// and any other byte above 0x7F becomes \u00XX (its Latin-1 reading), so any
// input gives valid JSON and UTF-8 text comes back as it went in.
//
// File names keep such bytes apart instead: a byte that is not part of
// well-formed UTF-8 becomes \udcXX, a lone surrogate, as Python's
// surrogateescape reads it (os.fsdecode), so that a Latin-1 "caf\xe9.pic"
// and a UTF-8 "café.pic" stay two names and each gives its bytes back.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class JsonObject {
public:
    void AddText(const char* key, const char* bytes, size_t length);
    void AddText(const char* key, const std::string& text);
    // A file name: bytes outside UTF-8 as \udcXX.
    void AddName(const char* key, const std::string& name);
    void AddNameList(const char* key, const std::vector<std::string>& names);
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
    void AddList(const char* key, const std::vector<std::string>& texts, bool names);
    std::string members;
};

// `bytes` as a quoted JSON string; with `name`, as a file name.
std::string JsonString(const char* bytes, size_t length, bool name = false);
