// A name for a file short enough for the host's name field (kMaxPathLength
// bytes with its zero), where the system has one: an existing file is opened
// and named by its descriptor (/proc/self/fd/N) on Linux, by its 8.3 short
// name on Windows; a file to be made is named in its folder's short name
// (/proc/self/fd/N/shot.pic), so that only its own name must fit. Names that
// fit are kept as they are.
#pragma once

#include <string>

#include "host/host_api.h"

class ShortName {
public:
    enum Kind { Existing, ToMake };
    explicit ShortName(const std::string& path, Kind kind = Existing);
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
    // The short name of an existing file or folder, or "".
    std::string Shorten(const std::string& existing);

    std::string path;
    std::string name;
    Kind kind;
    int descriptor = -1;
};

// The characters that end a folder's name in a path: "/", or "\\/".
const char* PathSeparators();

// "name longer than the host's 259-byte name field"
std::string NameTooLongText();
