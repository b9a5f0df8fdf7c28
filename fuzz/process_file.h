// One file per fuzzing process in the temporary folder, removed when the
// process ends: the fuzz targets that go through files write their inputs
// and outputs there.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <process.h>
#define PIC_PROCESS_ID _getpid()
#else
#include <unistd.h>
#define PIC_PROCESS_ID getpid()
#endif

namespace fuzz {

class ProcessFile {
public:
    // `name` is made unique to the process: "pic-load-fuzz" gives
    // $TMPDIR/pic-load-fuzz-<process id>.pic.
    explicit ProcessFile(const char* name)
    {
        const char* folder = std::getenv("TMPDIR");
#if defined(_WIN32)
        if (folder == nullptr)
            folder = std::getenv("TEMP");
#endif
        path = std::string(folder != nullptr ? folder : "/tmp") + "/" + name + "-" +
               std::to_string(PIC_PROCESS_ID) + ".pic";
    }
    ~ProcessFile()
    {
        std::remove(path.c_str());
    }
    ProcessFile(const ProcessFile&) = delete;
    ProcessFile& operator=(const ProcessFile&) = delete;

    bool Write(const uint8_t* data, size_t size) const
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr)
            return false;
        const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
        return std::fclose(file) == 0 && written;
    }
    const char* Path() const
    {
        return path.c_str();
    }

private:
    std::string path;
};

} // namespace fuzz
