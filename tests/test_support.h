// Helpers shared by the tests: a private temporary folder, whole-file I/O and
// running a program built beside the tests.
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

// A program of the build, such as "pictool", in the folder of the running
// test ("pictool.exe" on Windows).
std::string ProgramBesideTest(const std::string& name);

struct ProcessResult {
    int exitCode = -1; // -1 when it could not be run or did not exit
    std::string out;
    std::string err;
};

// Runs `program` with `arguments`, standard input from `inputPath` (empty:
// the test's own), and returns its exit code and what it wrote, captured
// through files in `folder`.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& folder, const std::string& inputPath = "");
