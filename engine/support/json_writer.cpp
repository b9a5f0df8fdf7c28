#include "engine/support/json_writer.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/support/utf8_text.h"

static void AppendEscaped(std::string& out, unsigned char byte, bool name)
{
    switch (byte) {
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    case '\b':
        out += "\\b";
        return;
    case '\f':
        out += "\\f";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        break;
    }
    if (byte >= 0x80 && name) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\udc%02x", unsigned(byte));
        out += escape;
    } else if (byte < 0x20 || byte >= 0x7F) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04X", unsigned(byte));
        out += escape;
    } else {
        out += char(byte);
    }
}

std::string JsonString(const char* bytes, size_t length, bool name)
{
    std::string out = "\"";
    for (size_t index = 0; index < length;) {
        // Well-formed UTF-8 passes through as it is; any other byte above
        // 0x7F is escaped alone.
        const size_t character = Utf8CharacterLength(bytes + index, length - index);
        if (character > 1) {
            out.append(bytes + index, character);
            index += character;
        } else {
            AppendEscaped(out, static_cast<unsigned char>(bytes[index++]), name);
        }
    }
    out += '"';
    return out;
}

void JsonObject::AddKey(const char* key)
{
    if (!members.empty())
        members += ',';
    members += JsonString(key, std::strlen(key));
    members += ':';
}

void JsonObject::AddText(const char* key, const char* bytes, size_t length)
{
    AddKey(key);
    members += JsonString(bytes, length);
}

void JsonObject::AddText(const char* key, const std::string& text)
{
    AddText(key, text.data(), text.size());
}

void JsonObject::AddName(const char* key, const std::string& name)
{
    AddKey(key);
    members += JsonString(name.data(), name.size(), true);
}

void JsonObject::AddNameList(const char* key, const std::vector<std::string>& names)
{
    AddList(key, names, true);
}

void JsonObject::AddInteger(const char* key, long long value)
{
    AddKey(key);
    members += std::to_string(value);
}

void JsonObject::AddNumber(const char* key, double value)
{
    AddKey(key);
    if (!std::isfinite(value)) {
        members += "null";
        return;
    }
    // Nine significant digits give back the same float.
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    members += text;
}

void JsonObject::AddBool(const char* key, bool value)
{
    AddKey(key);
    members += value ? "true" : "false";
}

void JsonObject::AddTextList(const char* key, const std::vector<std::string>& texts)
{
    AddList(key, texts, false);
}

void JsonObject::AddList(const char* key, const std::vector<std::string>& texts, bool names)
{
    AddKey(key);
    members += '[';
    for (size_t index = 0; index < texts.size(); ++index) {
        if (index != 0)
            members += ',';
        members += JsonString(texts[index].data(), texts[index].size(), names);
    }
    members += ']';
}

void JsonObject::AddObjectList(const char* key, const std::vector<JsonObject>& objects)
{
    AddKey(key);
    members += '[';
    for (size_t index = 0; index < objects.size(); ++index) {
        if (index != 0)
            members += ',';
        members += objects[index].Text();
    }
    members += ']';
}

void JsonObject::AddJson(const char* key, const std::string& json)
{
    AddKey(key);
    members += json;
}
