#include "engine/formats/whole_image.h"

#include <algorithm>

#include "engine/formats/format_table.h"
#include "engine/formats/image_input.h"

namespace {

// Channels reserved before the first row: 16 MiB. Larger images grow as
// their rows arrive.
constexpr size_t kFirstReservation = size_t(8) << 20;

} // namespace

bool ReadImageFile(const std::string& path, uint64_t maxPixels, HostImage& image,
                   std::string& error)
{
    ReadSettings settings;
    settings.maxPixels = maxPixels;
    return ReadImageFile(path, settings, image, error);
}

bool ReadImageFile(const std::string& path, const ReadSettings& settings, HostImage& image,
                   std::string& error)
{
    ImageInput input;
    if (!input.Open(path, error))
        return false;
    const ImageFormat* format = FormatOfInput(input);
    if (format == nullptr || format->newReader == nullptr) {
        error = "not an image pictool reads (" + ReadFormatNames() + ")";
        return false;
    }
    std::unique_ptr<RowSource> source = format->newReader(input, settings);
    ImageHeader header;
    if (!source->Start(header, error))
        return false;
    image.width = header.width;
    image.height = header.height;
    image.hasAlpha = header.hasAlpha;
    image.channels.clear();
    const size_t rowChannels = size_t(header.width) * 4;
    image.channels.reserve(std::min(rowChannels * header.height, kFirstReservation));
    for (uint32_t y = 0; y < header.height; ++y) {
        image.channels.resize(image.channels.size() + rowChannels);
        if (!source->Row(image.channels.data() + image.channels.size() - rowChannels, error))
            return false;
    }
    if (!source->Finish(header, error))
        return false;
    image.header = header;
    return true;
}

bool WriteImageFile(const std::string& path, const ImageFormat& format,
                    const WriteSettings& settings, const HostImage& image, std::string& error)
{
    if (format.newWriter == nullptr) {
        error = std::string("cannot write ") + format.name;
        return false;
    }
    ImageHeader header = image.header;
    header.width = image.width;
    header.height = image.height;
    header.hasAlpha = image.hasAlpha;
    std::unique_ptr<RowSink> sink = format.newWriter(path, settings);
    if (!sink->Start(header, error))
        return false;
    for (uint32_t y = 0; y < image.height; ++y)
        if (!sink->Row(image.channels.data() + size_t(y) * image.width * 4, error))
            return false;
    return sink->Finish(error);
}
