#include "tools/pictool/commands/option_table.h"

#include "engine/formats/format_table.h"
#include "tools/pictool/commands/command.h"

namespace {

// The row `name` ("--frames" or "-n") names, or null.
const OptionInfo* FindRow(const std::vector<const OptionInfo*>& rows, const std::string& name)
{
    for (const OptionInfo* row : rows) {
        if (name == row->name || (row->shortName != 0 && name.size() == 2 && name[0] == '-' &&
                                  name[1] == row->shortName))
            return row;
    }
    return nullptr;
}

// "--name VALUE" or "--name, -n": the left column of the help.
std::string Signature(const OptionInfo& row)
{
    std::string text = row.name;
    if (row.shortName != 0)
        text += std::string(", -") + row.shortName;
    if (row.value != nullptr)
        text += std::string(" ") + row.value;
    return text;
}

} // namespace

int SplitOptions(const char* command, const std::vector<const OptionInfo*>& rows,
                 const std::vector<std::string>& arguments, ParsedLine& line,
                 std::vector<std::string>& values)
{
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "--") {
            line.literalFrom = line.names.size();
            line.names.insert(line.names.end(), arguments.begin() + long(index) + 1,
                              arguments.end());
            break;
        }
        if (argument.size() < 2 || argument[0] != '-') {
            line.names.push_back(argument); // "-" is standard input or output
            continue;
        }
        const size_t equals =
            argument.compare(0, 2, "--") == 0 ? argument.find('=') : std::string::npos;
        const OptionInfo* row = FindRow(rows, argument.substr(0, equals));
        if (row == nullptr || (row->value == nullptr && equals != std::string::npos))
            return UsageError(command, "unknown option '" + argument + "'");
        if (row->value != nullptr && equals == std::string::npos && index + 1 == arguments.size())
            return UsageError(command, std::string(row->name) + " needs a value");
        line.given.push_back(row);
        values.push_back(row->value == nullptr         ? std::string()
                         : equals != std::string::npos ? argument.substr(equals + 1)
                                                       : arguments[++index]);
    }
    return kExitSuccess;
}

int OptionUsageError(const char* command, const OptionInfo& option, const std::string& value,
                     const std::string& why)
{
    if (option.value == nullptr)
        return UsageError(command, std::string(option.name) + ": " + why);
    return UsageError(command, std::string(option.name) + " '" + value + "': " + why);
}

int CheckOptionScopes(const char* command, const ParsedLine& line, const ImageFormat& output,
                      bool toPic)
{
    for (const OptionInfo* row : line.given) {
        const std::string name = row->name;
        if (row->scope == OptionScope::PicOutput && !toPic)
            return UsageError(command, name + " applies when writing PIC");
        if (row->scope == OptionScope::PicInput && toPic)
            return UsageError(command, name + " applies when reading PIC");
        if (row->formatFlag != nullptr && !(output.*(row->formatFlag))) {
            const std::string formats = FormatNamesWith(row->formatFlag);
            return UsageError(command, name + " applies to " +
                                           (formats.empty() ? "no format this build writes"
                                                            : formats + " output"));
        }
    }
    return kExitSuccess;
}

std::string OptionsHelp(const std::vector<const OptionInfo*>& rows, const char* section)
{
    constexpr size_t kColumn = 25; // where the help's text starts
    std::string text;
    for (const OptionInfo* row : rows) {
        if (std::string(row->section) != section)
            continue;
        std::string left = "  " + Signature(*row);
        left += left.size() + 1 < kColumn ? std::string(kColumn - left.size(), ' ')
                                          : "\n" + std::string(kColumn, ' ');
        std::string help = row->help;
        for (size_t at = 0; (at = help.find('\n', at)) != std::string::npos; at += kColumn + 1)
            help.insert(at + 1, kColumn, ' ');
        text += left + help + "\n";
    }
    return text;
}
