// A command's options as one table: each row names an option (long and
// short name, its value's word), where it applies, its help lines and what
// takes its value. The same rows parse the arguments, check where each
// option applies and print the help's options block, so that help, parsing
// and checks cannot drift apart (git's parse-options is the model).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/formats/image_format.h"

// Where an option applies.
enum class OptionScope {
    Any,
    PicOutput, // writing PIC (images and PIC files read on the way)
    PicInput,  // reading PIC into another format
};

struct OptionInfo {
    const char* name;              // "--frames"
    char shortName;                // 'n' for -n, or 0
    const char* value;             // the value's word ("LIST"), null for a flag
    OptionScope scope;             // where it applies
    bool ImageFormat::*formatFlag; // non-null: only output formats whose row sets this
    const char* section;           // the help's heading it stands under
    std::string help;              // its help lines, '\n' between them
};

template <class Request> struct OptionRow {
    OptionInfo info;
    // Keeps `value` ("" for a flag) in `request`; false with why not. Null
    // for what the command's caller takes (--help) and "--".
    bool (*take)(Request& request, const std::string& value, std::string& why);
};

// The names and the options a command line gave.
struct ParsedLine {
    std::vector<std::string> names;
    size_t literalFrom = SIZE_MAX; // names from here on came after "--"
    std::vector<const OptionInfo*> given;
};

// Splits `arguments` into names and options, as the rows say; a usage error
// (the exit status) for an unknown option or a missing value, else 0.
int SplitOptions(const char* command, const std::vector<const OptionInfo*>& rows,
                 const std::vector<std::string>& arguments, ParsedLine& line,
                 std::vector<std::string>& values);

// Where each given option applies, against the output's format.
int CheckOptionScopes(const char* command, const ParsedLine& line, const ImageFormat& output,
                      bool toPic);

// The options block of `section`: "  --name VALUE   help", the help's further
// lines below it.
std::string OptionsHelp(const std::vector<const OptionInfo*>& rows, const char* section);

// "--NAME 'VALUE': WHY" (or "--NAME: WHY" for a flag) as a usage error.
int OptionUsageError(const char* command, const OptionInfo& option, const std::string& value,
                     const std::string& why);

// Parses `arguments` through `rows` into `request`; a usage error's status, else 0.
template <class Request>
int ParseOptions(const char* command, const std::vector<OptionRow<Request>>& rows,
                 const std::vector<std::string>& arguments, Request& request, ParsedLine& line)
{
    std::vector<const OptionInfo*> infos;
    for (const OptionRow<Request>& row : rows)
        infos.push_back(&row.info);
    std::vector<std::string> values;
    if (const int status = SplitOptions(command, infos, arguments, line, values))
        return status;
    for (size_t index = 0; index < line.given.size(); ++index) {
        for (const OptionRow<Request>& row : rows) {
            if (&row.info != line.given[index])
                continue;
            std::string why;
            if (row.take != nullptr && !row.take(request, values[index], why))
                return OptionUsageError(command, row.info, values[index], why);
        }
    }
    return 0;
}
