// A name for an existing file short enough for the host's name field
// (kMaxPathLength bytes with its zero), where the system has one: the file
// is opened and named by its descriptor (/proc/self/fd/N) on Linux, by its
// 8.3 short name on Windows. Names that fit are kept as they are.
#pragma once

#include <string>

#include "host/host_api.h"

class ShortName {
public:
    explicit ShortName(const std::string& path);
    ~ShortName();
    ShortName(const ShortName&) = delete;
    ShortName& operator=(const ShortName&) = delete;

    // False when the name is too long and no shorter one could be made.
    bool Fits() const { return name.size() < size_t(kMaxPathLength); }
    const std::string& Name() const { return name; }
    // Why the name does not fit: the file cannot be found, or no shorter
    // name could be made.
    std::string Why() const;

private:
    std::string path;
    std::string name;
    int descriptor = -1;
};

// "name longer than the host's 259-byte name field"
std::string NameTooLongText();
