// pictool's JSON lines: any bytes make valid JSON, UTF-8 passes through as
// it is, and numbers that JSON cannot hold become null.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "engine/support/json_writer.h"

namespace {

std::string Json(const std::string& bytes)
{
    return JsonString(bytes.data(), bytes.size());
}

} // namespace

TEST(JsonString, EscapesWhatJsonRequiresAndHighBytes)
{
    const struct {
        std::string bytes;
        const char* json;
    } cases[] = {
        {"", "\"\""},
        {"plain text 123", "\"plain text 123\""},
        {"\"", "\"\\\"\""},
        {"\\", "\"\\\\\""},
        {"a\nb\tc\rd\be\ff", "\"a\\nb\\tc\\rd\\be\\ff\""},
        {std::string("\0\x01\x1f", 3), "\"\\u0000\\u0001\\u001F\""},
        {"\x7f\x80\xe9\xff", "\"\\u007F\\u0080\\u00E9\\u00FF\""},
        {"/", "\"/\""},
        // Well-formed UTF-8 as it is; bytes that are not become \u00XX alone.
        {"caf\xC3\xA9.pic", "\"caf\xC3\xA9.pic\""},
        {"\xE2\x82\xAC\xF0\x9F\x98\x80", "\"\xE2\x82\xAC\xF0\x9F\x98\x80\""},
        {"caf\xC3", "\"caf\\u00C3\""},                                       // cut off
        {"\xC3\xA9\xA9", "\"\xC3\xA9\\u00A9\""},                             // a stray continuation
        {"\xC0\xAF\xED\xA0\x80", "\"\\u00C0\\u00AF\\u00ED\\u00A0\\u0080\""}, // overlong, surrogate
    };
    for (const auto& entry : cases)
        EXPECT_EQ(Json(entry.bytes), entry.json);
}

// File names: a byte outside UTF-8 is a lone surrogate, \udcXX, as Python's
// surrogateescape reads it, so that Latin-1 and UTF-8 names stay apart.
TEST(JsonString, NamesKeepBytesOutsideUtf8Apart)
{
    const struct {
        std::string bytes;
        const char* json;
    } cases[] = {
        {"caf\xE9.pic", "\"caf\\udce9.pic\""},
        {"caf\xC3\xA9.pic", "\"caf\xC3\xA9.pic\""},
        {"\xC3\xA9\xA9\x7f\t", "\"\xC3\xA9\\udca9\\u007F\\t\""},
    };
    for (const auto& entry : cases)
        EXPECT_EQ(JsonString(entry.bytes.data(), entry.bytes.size(), true), entry.json);
}

TEST(JsonString, EveryLoneByteGivesPrintableAscii)
{
    for (int value = 0; value < 256; ++value) {
        const std::string json = Json(std::string(1, char(value)));
        for (const char c : json)
            EXPECT_TRUE(c >= 0x20 && c < 0x7F) << value;
        const bool plain = value >= 0x20 && value < 0x7F && value != '"' && value != '\\';
        if (plain)
            EXPECT_EQ(json, "\"" + std::string(1, char(value)) + "\"") << value;
        else
            EXPECT_EQ(json[1], '\\') << value;
    }
}

TEST(JsonObject, WritesKeysInOrderAndNullForNonFiniteNumbers)
{
    JsonObject object;
    object.AddText("file", std::string("a\"b"));
    object.AddInteger("result", 13);
    object.AddInteger("big", -2147483648LL);
    object.AddNumber("aspect", 1.25);
    object.AddNumber("third", double(1.0f / 3.0f));
    object.AddNumber("nan", std::nan(""));
    object.AddNumber("inf", -std::numeric_limits<double>::infinity());
    EXPECT_EQ(object.Text(), "{\"file\":\"a\\\"b\",\"result\":13,\"big\":-2147483648,"
                             "\"aspect\":1.25,\"third\":0.333333343,\"nan\":null,\"inf\":null}");
    EXPECT_EQ(JsonObject().Text(), "{}");
}
