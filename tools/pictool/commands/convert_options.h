// `pictool convert`'s command line: its options as one table (their help
// lines, where each applies, what takes its value), parsed into a request
// and checked. The help's options blocks come from the same rows.
#pragma once

#include <string>
#include <vector>

#include "tools/pictool/commands/option_table.h"
#include "tools/pictool/convert/convert_request.h"

// The rows, in the order the help lists them (convert_option_rows.cpp).
const std::vector<OptionRow<ConvertRequest>>& ConvertOptions();
std::vector<OptionRow<ConvertRequest>> ConvertOptionRows();

// Parses and checks `arguments`; a usage error's exit status, else 0.
int ParseConvertArguments(const std::vector<std::string>& arguments, ConvertRequest& request);

// The options block of one section of the help ("Writing PIC", ...).
std::string ConvertOptionsHelp(const char* section);
