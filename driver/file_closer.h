// Closes a C stream when the operation that opened it returns, on every path.
#pragma once

#include <cstdio>

#include "host/file_names.h"

// Opens a host record's file name, which lives in a fixed field: a name
// that fills the field without a terminator is refused (ENAMETOOLONG)
// rather than read past.
inline FILE* OpenNamedFile(const char* field, const char* mode)
{
    const char* name = ReadNameField(field);
    return name != nullptr ? std::fopen(name, mode) : nullptr;
}

class FileCloser {
public:
    explicit FileCloser(FILE* opened) : file(opened) {}
    ~FileCloser()
    {
        if (file != nullptr)
            std::fclose(file);
    }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

    FILE* get() const { return file; }
    explicit operator bool() const { return file != nullptr; }
    // Closes now and tells whether the close succeeded (buffered data written).
    bool Close()
    {
        FILE* closing = file;
        file = nullptr;
        return closing == nullptr || std::fclose(closing) == 0;
    }

private:
    FILE* file;
};
