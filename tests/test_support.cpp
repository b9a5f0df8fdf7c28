#include "tests/test_support.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "pic/pic_header.h"

namespace fs = std::filesystem;

TempDir::TempDir()
{
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() /
            ("pic-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code error;
    fs::remove_all(path, error);
}

std::string TempDir::File(const std::string& name) const
{
    return (fs::path(path) / name).string();
}

void WriteFileBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

Bytes ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

Bytes MakePicHeaderBytes(int width, int height, bool withAlpha, bool compressed, float ratio)
{
    Bytes bytes = {0x53, 0x80, 0xF6, 0x34, 0x40, 0x6C, 0xCC, 0xCD};
    Bytes comment(80, 0);
    std::memcpy(comment.data(), kPicCommentPrefix, sizeof kPicCommentPrefix - 1);
    bytes.insert(bytes.end(), comment.begin(), comment.end());
    bytes.insert(bytes.end(), {'P', 'I', 'C', 'T'});
    uint32_t ratioBits;
    std::memcpy(&ratioBits, &ratio, 4);
    bytes.insert(bytes.end(), {uint8_t(width >> 8), uint8_t(width), uint8_t(height >> 8),
                               uint8_t(height), uint8_t(ratioBits >> 24), uint8_t(ratioBits >> 16),
                               uint8_t(ratioBits >> 8), uint8_t(ratioBits), 0, 3, 0, 0});
    const uint8_t type = compressed ? 2 : 0;
    bytes.insert(bytes.end(), {uint8_t(withAlpha ? 1 : 0), 8, type, 0xE0});
    if (withAlpha)
        bytes.insert(bytes.end(), {0, 8, type, 0x10});
    return bytes;
}
