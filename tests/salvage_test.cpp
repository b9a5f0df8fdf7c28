// Salvage on damaged run-length files of varied pictures: the damage kinds
// bit rot and bad copies leave, counted against the original picture. Of the
// rows whose bytes the damage did not touch, salvage must find at least 99 %
// and must never report one good whose pixels differ from the original (a
// touched row may decode to wrong pixels: PIC has no checksum).
//
// With PIC_SALVAGE_DUMP set to a folder, every damaged file is also written
// there with what bench/salvage_peers.py needs to count the peers' rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "pic/pic_image.h"
#include "tests/layout_files.h"
#include "tests/test_support.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kTrials = 24;

// Channel c of pixel (x, y) of picture `kind`, 8 bits.
uint8_t PictureValue(int kind, int x, int y, int c, uint32_t noise)
{
    switch (kind) {
    case 0: // noise: literals throughout
        return uint8_t(noise >> (8 * c));
    case 1: // flat areas: long runs
        return uint8_t(((x / 40) * 60 + (y / 30) * 90 + c * 50) & 0xFF);
    case 2: // vertical stripes, every row alike: the same packets in each
        return uint8_t((x / 7) * 23 + c * 80);
    case 3: // a smooth picture with some grain, like a render
        return uint8_t(128 + 100 * std::sin(x * 0.05 + c) * std::cos(y * 0.07) +
                       ((noise >> (8 * c)) & 3));
    case 4: // a gradient down the picture with a sharp vertical edge
        return uint8_t(x < 64 ? y * 2 + c : 255 - y - c * 30);
    default: // rows of any length: detail across a part of each, as wide as chance has it
        return x < int((uint32_t(y) * 2654435761u >> 16) % 161) ? uint8_t(noise >> (8 * c))
                                                                : uint8_t(y / 8 * 16 + c);
    }
}
constexpr int kPictures = 6;
const char* const kPictureNames[kPictures] = {"noise",  "flat",     "stripes",
                                              "render", "gradient", "varied"};

Bytes MakePicture(int kind, int channels)
{
    Bytes pixels;
    std::mt19937 random(uint32_t(kind + 1));
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t noise = random();
            for (int c = 0; c < channels; ++c)
                pixels.push_back(PictureValue(kind, x, y, c, noise));
        }
    return pixels;
}

Bytes WriteCompressed(const Bytes& pixels, int channels)
{
    return WritePicToMemory(pixels, kWidth, kHeight, channels, size_t(kWidth * channels),
                            PicWriteOptions());
}

// Where a file we wrote keeps its rows and its count bytes, read by a walker
// of the tests' own.
struct FileMap {
    std::vector<size_t> rowStarts; // then the end
    std::vector<size_t> counts;    // count bytes (a long run's three)
    std::vector<size_t> values;
};

FileMap MapFile(const Bytes& file, int channels)
{
    FileMap map;
    size_t at = 104 + 4 * size_t(channels == 4 ? 2 : 1);
    for (int y = 0; y < kHeight; ++y) {
        map.rowStarts.push_back(at);
        for (const size_t pixelBytes : {size_t(3), size_t(1)}) {
            if (pixelBytes == 1 && channels == 3)
                break;
            for (int x = 0; x < kWidth;) {
                const int count = file[at];
                const int literal = count < 128 ? count + 1 : 0;
                const int head = count == 128 ? 3 : 1;
                const int pixels = literal != 0   ? literal
                                   : count == 128 ? file[at + 1] << 8 | file[at + 2]
                                                  : count - 127;
                for (int index = 0; index < head; ++index)
                    map.counts.push_back(at++);
                const size_t valueBytes = pixelBytes * size_t(literal != 0 ? literal : 1);
                for (size_t index = 0; index < valueBytes; ++index)
                    map.values.push_back(at++);
                x += pixels;
            }
        }
    }
    map.rowStarts.push_back(at);
    return map;
}

enum Kind { FlipCount, FlipValue, Insert, Delete, Burst, Several, Edges, kKinds };
const char* const kKindNames[kKinds] = {
    "flipped count byte", "flipped value byte",   "inserted byte",        "deleted byte",
    "burst of 16 bytes",  "three flipped counts", "counts in first, last"};

// Damages `file` and marks in `touched` the rows whose bytes it changed.
Bytes Damage(const Bytes& file, const FileMap& map, Kind kind, std::mt19937& random,
             std::vector<bool>& touched)
{
    const auto rowOf = [&](size_t offset) {
        size_t row = 0;
        while (map.rowStarts[row + 1] <= offset)
            ++row;
        return row;
    };
    const auto pick = [&](const std::vector<size_t>& from) { return from[random() % from.size()]; };
    const size_t first = map.rowStarts.front();
    const size_t span = map.rowStarts.back() - first;
    Bytes damaged = file;
    size_t offset = 0;
    switch (kind) {
    case FlipCount:
    case FlipValue:
        offset = pick(kind == FlipCount ? map.counts : map.values);
        damaged[offset] ^= uint8_t(1 << (random() % 8));
        touched[rowOf(offset)] = true;
        break;
    case Insert:
        offset = first + random() % span;
        damaged.insert(damaged.begin() + long(offset), uint8_t(random()));
        touched[rowOf(offset)] = true;
        break;
    case Delete:
        offset = first + random() % span;
        damaged.erase(damaged.begin() + long(offset));
        touched[rowOf(offset)] = true;
        break;
    case Burst:
        offset = first + random() % (span - 16);
        for (size_t index = 0; index < 16; ++index) {
            damaged[offset + index] = uint8_t(random());
            touched[rowOf(offset + index)] = true;
        }
        break;
    case Several:
        // Three count bytes in rows far apart, so that the breaks are three.
        for (int part = 0; part < 3; ++part) {
            size_t at;
            do
                at = pick(map.counts);
            while (rowOf(at) / (kHeight / 3) != size_t(part) || touched[rowOf(at)]);
            damaged[at] ^= uint8_t(1 << (random() % 8));
            touched[rowOf(at)] = true;
        }
        break;
    default:
        // A count byte in one of the first two rows and one in the last two.
        for (const size_t row : {size_t(random() % 2), size_t(kHeight - 1 - random() % 2)}) {
            size_t at;
            do
                at = pick(map.counts);
            while (rowOf(at) != row);
            damaged[at] ^= uint8_t(1 << (random() % 8));
            touched[row] = true;
        }
        break;
    }
    return damaged;
}

struct Tally {
    uint64_t untouched = 0;
    uint64_t recovered = 0;
    uint64_t wrong = 0; // reported good but not the original's, from the plain read's break on
    uint64_t wrongBefore = 0; // the same before it: rows the plain read decoded out of step
    uint64_t plain = 0;       // right without salvage
    uint64_t worstSteps = 0;
};

bool RowLost(const PicImageFacts& facts, uint32_t y)
{
    for (const PicRowRange& range : facts.salvage.lostRows) {
        if (y >= range.first && y <= range.last)
            return true;
    }
    return false;
}

// Counts one damaged file's untouched rows. Salvaged, every row not lost is
// reported good; read plainly, the rows before the first that fails.
void Count(const Bytes& damaged, const Bytes& original, int channels,
           const std::vector<bool>& touched, Tally& tally)
{
    PicReadRequest request;
    request.salvage = true;
    const PicImage image = ReadPicImageMemory(damaged.data(), damaged.size(), request);
    const PicImage plain = ReadPicImageMemory(damaged.data(), damaged.size(), true);
    ASSERT_EQ(image.facts.status, PicImageStatus::Ok);
    const size_t rowBytes = size_t(kWidth * channels);
    const uint32_t plainRows =
        plain.facts.rows.damaged ? plain.facts.rows.damage.row : uint32_t(kHeight);
    tally.worstSteps = std::max(tally.worstSteps, image.facts.salvage.steps);
    for (uint32_t y = 0; y < uint32_t(kHeight); ++y) {
        if (touched[y])
            continue;
        ++tally.untouched;
        const uint8_t* want = original.data() + y * rowBytes;
        const bool same = std::memcmp(image.pixels.get() + y * rowBytes, want, rowBytes) == 0;
        if (!RowLost(image.facts, y))
            (same ? tally.recovered : y < plainRows ? tally.wrongBefore : tally.wrong)++;
        if (y < plainRows && std::memcmp(plain.pixels.get() + y * rowBytes, want, rowBytes) == 0)
            ++tally.plain;
    }
}

// PIC_SALVAGE_DUMP: the file, its original pixels (RGBA) and one line of
// the manifest: name, channels, width, height, then the touched rows.
void Dump(const std::string& name, const Bytes& damaged, const Bytes& original, int channels,
          const std::vector<bool>& touched)
{
    const char* folder = std::getenv("PIC_SALVAGE_DUMP");
    if (folder == nullptr)
        return;
    const std::string base = std::string(folder) + "/" + name;
    WriteFileBytes(base + ".pic", damaged);
    WriteFileBytes(base + ".rgb", original);
    FILE* manifest = std::fopen((std::string(folder) + "/manifest.txt").c_str(), "a");
    ASSERT_NE(manifest, nullptr);
    std::fprintf(manifest, "%s %d %d %d", name.c_str(), channels, kWidth, kHeight);
    for (size_t y = 0; y < touched.size(); ++y)
        if (touched[y])
            std::fprintf(manifest, " %zu", y);
    std::fprintf(manifest, "\n");
    std::fclose(manifest);
}

} // namespace

TEST(Salvage, FindsTheUntouchedRowsOfDamagedFiles)
{
    Tally kinds[kKinds];
    for (int picture = 0; picture < kPictures; ++picture) {
        for (const int channels : {3, 4}) {
            const Bytes original = MakePicture(picture, channels);
            const Bytes file = WriteCompressed(original, channels);
            const FileMap map = MapFile(file, channels);
            ASSERT_EQ(map.rowStarts.back(), file.size());
            std::mt19937 random(uint32_t(picture * 10 + channels));
            for (int kind = 0; kind < kKinds; ++kind) {
                for (int trial = 0; trial < kTrials; ++trial) {
                    std::vector<bool> touched(kHeight, false);
                    const Bytes damaged = Damage(file, map, Kind(kind), random, touched);
                    const std::string name = std::string(kPictureNames[picture]) + "-" +
                                             std::to_string(channels) + "-" + std::to_string(kind) +
                                             "-" + std::to_string(trial);
                    SCOPED_TRACE(name);
                    Count(damaged, original, channels, touched, kinds[kind]);
                    Dump(name, damaged, original, channels, touched);
                }
            }
        }
    }
    for (int kind = 0; kind < kKinds; ++kind) {
        const Tally& tally = kinds[kind];
        const double untouched = double(tally.untouched);
        std::printf("%-22s untouched %6llu  salvaged %6.2f %%  wrong %llu (before the break %llu)  "
                    "without salvage %6.2f %%  steps at most %llu\n",
                    kKindNames[kind], (unsigned long long)tally.untouched,
                    100.0 * double(tally.recovered) / untouched, (unsigned long long)tally.wrong,
                    (unsigned long long)tally.wrongBefore, 100.0 * double(tally.plain) / untouched,
                    (unsigned long long)tally.worstSteps);
        EXPECT_GE(double(tally.recovered), 0.99 * untouched) << kKindNames[kind];
        EXPECT_EQ(tally.wrong + tally.wrongBefore, 0u) << kKindNames[kind];
    }
}
