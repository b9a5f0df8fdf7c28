// A plain main for fuzz targets: feeds every file of the folders (or the
// files) named on the command line to LLVMFuzzerTestOneInput once, so that
// each corpus, with the crash files kept in it, replays as an ordinary test
// in every build, with or without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static std::vector<fs::path> InputsOf(const fs::path& argument)
{
    std::vector<fs::path> inputs;
    if (fs::is_directory(argument)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(argument))
            if (entry.is_regular_file())
                inputs.push_back(entry.path());
        std::sort(inputs.begin(), inputs.end());
    } else {
        inputs.push_back(argument);
    }
    return inputs;
}

int main(int argc, char** argv)
{
    size_t replayed = 0;
    for (int index = 1; index < argc; ++index) {
        for (const fs::path& input : InputsOf(argv[index])) {
            std::ifstream in(input, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", input.string().c_str());
                return 1;
            }
            const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                             std::istreambuf_iterator<char>());
            std::printf("%s\n", input.filename().string().c_str());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    std::printf("%lu inputs replayed\n", static_cast<unsigned long>(replayed));
    // An empty or misnamed corpus is a fault of the build, not a pass.
    return replayed == 0 ? 1 : 0;
}
