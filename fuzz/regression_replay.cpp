// Replays every input that ever crashed or hung a parser, kept in
// fuzz/regressions/, and checks what each now gives against its line in
// fuzz/regressions/outcomes.txt:
//
//   width_top_bit.pic: 32769 x 1, cut short in row 0 of 1 (offset 108)
//
// An outcome is what the header reader and the row check find: the size and
// "whole", or the first damaged row and why, or "header: " and why the
// header was refused. Every file of the folder needs a line, and every line
// a file. With --print the outcomes are printed instead, to write the line
// of a new input.
//   usage: fuzz_regression_replay FOLDER [--print]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "pic/byte_source.h"
#include "pic/pic_header.h"
#include "pic/pic_row_reader.h"

namespace fs = std::filesystem;

namespace {

const char kOutcomes[] = "outcomes.txt";

std::string Outcome(const std::vector<uint8_t>& bytes)
{
    PicByteSource source(bytes.data(), bytes.size());
    PicHeader header;
    std::vector<PicChannelPacket> packets;
    const PicHeaderStatus status = ReadPicHeader(source, header, packets);
    if (status != PicHeaderStatus::Read)
        return std::string("header: ") + PicHeaderStatusText(status);
    const PicRowsCheck rows = CheckPicRows(source, packets, header.Width(), header.Height());
    std::string outcome =
        std::to_string(header.Width()) + " x " + std::to_string(header.Height()) + ", ";
    if (!rows.damaged)
        return outcome + "whole";
    return outcome + PicRowStatusText(rows.damage.reason) + " in row " +
           std::to_string(rows.damage.row) + " of " + std::to_string(header.Height()) +
           " (offset " + std::to_string(rows.damage.offset) + ")";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: fuzz_regression_replay FOLDER [--print]\n");
        return 2;
    }
    const fs::path folder = argv[1];
    const bool print = argc > 2 && std::string(argv[2]) == "--print";
    std::map<std::string, std::string> expected;
    std::ifstream lines(folder / kOutcomes);
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(": ");
        if (!line.empty() && line[0] != '#' && colon != std::string::npos)
            expected[line.substr(0, colon)] = line.substr(colon + 2);
    }
    std::vector<fs::path> inputs;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename() != kOutcomes)
            inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());

    int failures = 0;
    for (const fs::path& input : inputs) {
        std::ifstream in(input, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        const std::string name = input.filename().string();
        const std::string found = Outcome(bytes);
        if (print) {
            std::printf("%s: %s\n", name.c_str(), found.c_str());
            continue;
        }
        const auto line = expected.find(name);
        if (line == expected.end()) {
            std::printf("%s: no expected outcome in %s (it gives \"%s\")\n", name.c_str(),
                        kOutcomes, found.c_str());
            ++failures;
        } else if (line->second != found) {
            std::printf("%s: expected \"%s\", got \"%s\"\n", name.c_str(), line->second.c_str(),
                        found.c_str());
            ++failures;
        }
        if (line != expected.end())
            expected.erase(line);
    }
    for (const auto& [name, outcome] : expected) {
        std::printf("%s: in %s but no such file\n", name.c_str(), kOutcomes);
        ++failures;
    }
    if (!print)
        std::printf("%zu inputs replayed, %d not as expected\n", inputs.size(), failures);
    return failures == 0 && !inputs.empty() ? 0 : 1;
}
