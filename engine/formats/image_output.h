// Where image writers put their files, and PIC files staged on their way
// between a driver, which works on named files, and standard input or
// output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "output/atomic_output.h"

class ImageInput;

// The one place image writers open and close their output. A file is
// written beside its target and moved over it only when whole (an earlier
// file of that name stays as it was when the write fails); "-" is standard
// output.
class ImageOutput {
public:
    ImageOutput() = default;
    ImageOutput(const ImageOutput&) = delete;
    ImageOutput& operator=(const ImageOutput&) = delete;

    // Null with a message when `path` cannot be written.
    FILE* Open(const std::string& path, std::string& error);
    // Finishes the output; false with a message (kept when the writer gave
    // one) when anything written did not reach it.
    bool Close(bool written, std::string& error);

private:
    AtomicOutput file;
    FILE* stream = nullptr;
    bool toStdout = false;
};

// A file of its own in the system's temporary folder, private to this
// user from its first byte, removed when the object goes (on Ctrl-C too).
class StagingFile {
public:
    // `extension` such as ".pic", so that a reader told by name takes it.
    explicit StagingFile(const char* extension = ".pic");
    StagingFile(const StagingFile&) = delete;
    StagingFile& operator=(const StagingFile&) = delete;

    // Makes the file; false with a message.
    bool Create(std::string& error);
    const std::string& Path() const { return path; }
    // Makes the file and copies `input` (from its start, an image of
    // another format than PIC) into it, no more than its picture can need,
    // whatever follows: its samples for `maxPixels` pixels. False with a
    // message.
    bool Fill(ImageInput& input, uint64_t maxPixels, std::string& error);
    // Makes the file and writes `count` bytes into it; false with a message.
    bool Write(const uint8_t* bytes, size_t count, std::string& error);
    // The name a writer that opens files itself (the driver, a format's
    // writer) writes the file under.
    const std::string& WriterName() { return file.NameForAnotherWriter(); }
    // Copies the file to standard output.
    bool CopyToStdout(std::string& error) const;

private:
    std::string path;
    AtomicOutput file;
};

// This process's id, which a staging file's name carries.
unsigned ProcessId();
