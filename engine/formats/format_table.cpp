#include "engine/formats/format_table.h"

#include <cctype>

#include "engine/formats/image_input.h"

// Each format's entry, defined in its own file. The formats built on
// optional libraries are listed only where CMake found them: this table is
// the one place that asks.
extern const ImageFormat kPicFormat;
extern const ImageFormat kPngFormat;
extern const ImageFormat kJpegFormat;
extern const ImageFormat kTiffFormat;
extern const ImageFormat kExrFormat;
extern const ImageFormat kPamFormat;
extern const ImageFormat kPnmFormat;

namespace {

const std::vector<const ImageFormat*> kFormats = {
    &kPicFormat,
#if defined(ENGINE_HAVE_PNG)
    &kPngFormat,
#endif
#if defined(ENGINE_HAVE_JPEG)
    &kJpegFormat,
#endif
#if defined(ENGINE_HAVE_TIFF)
    &kTiffFormat,
#endif
#if defined(ENGINE_HAVE_EXR)
    &kExrFormat,
#endif
    &kPamFormat,  &kPnmFormat,
};

// The blank-separated words of `list`.
std::vector<std::string> Words(const char* list)
{
    std::vector<std::string> words;
    std::string word;
    for (const char* c = list;; ++c) {
        if (*c == ' ' || *c == '\0') {
            if (!word.empty())
                words.push_back(word);
            word.clear();
            if (*c == '\0')
                return words;
        } else {
            word.push_back(*c);
        }
    }
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool Writable(const ImageFormat& format)
{
    return &format == &kPicFormat || format.newWriter != nullptr;
}

// "a, b or c"
std::string Join(const std::vector<std::string>& parts)
{
    std::string text;
    for (size_t index = 0; index < parts.size(); ++index) {
        if (index > 0)
            text += index + 1 == parts.size() ? " or " : ", ";
        text += parts[index];
    }
    return text;
}

} // namespace

const std::vector<const ImageFormat*>& ImageFormats()
{
    return kFormats;
}

const ImageFormat& PicFormat()
{
    return kPicFormat;
}

const ImageFormat* FormatOfInput(const ImageInput& input)
{
    return FormatOfHead(input.Head(), input.HeadSize());
}

const ImageFormat* FormatOfHead(const uint8_t* head, size_t count)
{
    count = count < kSniffBytes ? count : kSniffBytes;
    for (const ImageFormat* format : kFormats)
        if (format->sniff(head, count))
            return format;
    return nullptr;
}

const ImageFormat* OutputFormatOfWord(const std::string& word)
{
    const std::string lower = Lower(word);
    for (const ImageFormat* format : kFormats)
        for (const std::string& extension : Words(format->extensions))
            if (Writable(*format) && extension == lower)
                return format;
    return nullptr;
}

const ImageFormat* OutputFormatOfName(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return nullptr;
    return OutputFormatOfWord(path.substr(dot + 1));
}

std::string ReadFormatNames()
{
    std::vector<std::string> names;
    for (const ImageFormat* format : kFormats)
        if (format->newReader != nullptr)
            names.push_back(format->name);
    return Join(names);
}

std::string OutputWords(bool dots)
{
    std::vector<std::string> words;
    for (const ImageFormat* format : kFormats)
        if (Writable(*format))
            words.push_back((dots ? "." : "") + Words(format->extensions)[0]);
    return Join(words);
}

std::string NameWithArticle(const ImageFormat& format)
{
    // Read letter by letter: "an EXR", "a PNG".
    const bool vowel = std::string("AEIOU").find(format.name[0]) != std::string::npos;
    return (vowel ? "an " : "a ") + std::string(format.name);
}

std::string SixteenBitFormatNames()
{
    return FormatNamesWith(&ImageFormat::sixteenBitOutput);
}

std::string FormatNamesWith(bool ImageFormat::*flag)
{
    std::vector<std::string> names;
    for (const ImageFormat* format : kFormats)
        if (format->*flag)
            names.push_back(format->name);
    return Join(names);
}

std::string FormatHelpLines()
{
    std::string text;
    for (const ImageFormat* format : kFormats) {
        std::string extensions;
        for (const std::string& extension : Words(format->extensions))
            extensions += (extensions.empty() ? "." : " .") + extension;
        std::string name = format->name;
        name.resize(name.size() < 9 ? 9 : name.size() + 1, ' ');
        text += "  " + name + extensions + "\n";
        text += std::string("    read:  ") + (format->reads ? format->reads : "no") + "\n";
        text += std::string("    write: ") + (format->writes ? format->writes : "no") + "\n";
    }
    return text;
}
