#include "engine/formats/image_format.h"

#include <cmath>

bool CheckImageSize(uint64_t width, uint64_t height, uint64_t maxPixels, std::string& error)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width == 0 || height == 0) {
        error = "image has no pixels (" + size + ")";
        return false;
    }
    if (width > kMaxImageSide || height > kMaxImageSide) {
        error = "image is " + size + ", more than " + SideLimitText();
        return false;
    }
    if (width * height > maxPixels) {
        error = PixelLimitText(width, height, maxPixels);
        return false;
    }
    return true;
}

std::string PixelLimitText(uint64_t width, uint64_t height, uint64_t maxPixels)
{
    const std::string declared = "declares " + std::to_string(width) + " x " +
                                 std::to_string(height) + " (" + std::to_string(width * height) +
                                 " pixels)";
    if (maxPixels >= kMaxStoragePixels)
        return declared + ", more than the host's storage holds (2^" +
               std::to_string(kMaxStoragePixelsLog2) + " pixels)";
    return LimitText(declared, "--max-pixels", maxPixels);
}

std::string LimitText(const std::string& what, const char* option, uint64_t limit)
{
    return what + ", more than " + option + " " + std::to_string(limit);
}

bool CheckBlockBytes(uint64_t bytes, const std::string& what, const ReadSettings& settings,
                     std::string& error)
{
    constexpr uint64_t kMib = uint64_t(1) << 20;
    if (bytes <= settings.maxBlockMib * kMib)
        return true;
    error = LimitText("declares " + what + " (" + std::to_string((bytes + kMib - 1) / kMib) +
                          " MiB each, decoded)",
                      "--max-block-mib", settings.maxBlockMib);
    return false;
}

std::string SideLimitText()
{
    return "PIC holds (" + std::to_string(kPicMaxSide) + " pixels a side)";
}

bool AspectFromDensity(double across, double down, float& aspect)
{
    if (!(across > 0.0) || !(down > 0.0) || !std::isfinite(down / across))
        return false;
    aspect = float(down / across);
    return aspect > 0.0f && std::isfinite(aspect);
}

void DensityFromAspect(float aspect, uint32_t most, uint32_t& across, uint32_t& down)
{
    // Small round numbers first (2:1, 5:4), then powers of two, which give
    // any float of a modest range back exactly.
    const auto fits = [&](double denominator) {
        const double scaled = std::nearbyint(double(aspect) * denominator);
        if (scaled < 1.0 || scaled > double(most) || float(scaled / denominator) != aspect)
            return false;
        down = uint32_t(scaled);
        return true;
    };
    for (uint32_t denominator = 1; denominator <= most && denominator <= 1000000; denominator *= 10)
        if (fits(denominator)) {
            across = denominator;
            return;
        }
    for (uint32_t denominator = 2; denominator <= most && denominator <= (1u << 30);
         denominator *= 2)
        if (fits(denominator)) {
            across = denominator;
            return;
        }
    // No exact pair: the nearest with the larger side at `most`.
    if (aspect >= 1.0f) {
        down = most;
        across = uint32_t(std::fmax(1.0, std::nearbyint(double(most) / double(aspect))));
    } else {
        across = most;
        down = uint32_t(std::fmax(1.0, std::nearbyint(double(most) * double(aspect))));
    }
}
