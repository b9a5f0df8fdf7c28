// Helpers shared by the tests: a private temporary folder and whole-file I/O.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    // `name` inside the folder.
    std::string File(const std::string& name) const;

private:
    std::string path;
};

void WriteFileBytes(const std::string& path, const Bytes& bytes);
Bytes ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);

// A PIC file header as we write it (104 bytes, comment "" after the prefix),
// followed by the packets for the given layout: for building test files.
Bytes MakePicHeaderBytes(int width, int height, bool withAlpha, bool compressed,
                         float ratio = 1.0f);
