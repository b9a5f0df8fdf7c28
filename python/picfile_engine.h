// picfile's checks and conversions, which are the engine's (engine/): the
// records, JSON lines, words and result codes pictool gives, PIC files read
// and written by pic/ (LibraryPicCodec), outputs committed through output/.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

// A file name as the system takes it: one with a zero byte in it would name
// another file, so it is refused as Python's open() refuses it.
const char* SystemPath(const std::string& path);

// Adds check_line, check_memory_line, convert_line, failed_line,
// output_format and output_words to picfile._core.
void AddEngineFunctions(pybind11::module_& module);
