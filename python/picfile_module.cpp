// picfile._core: the C++ half of the picfile package. It reads and writes
// whole PIC images through pic/pic_image.h and writes files through
// output/atomic_output.h; checks and conversions are the engine's
// (picfile_engine.cpp). The Python half (picfile/__init__.py) turns the
// facts it answers into arrays, warnings and exceptions. What Python knows
// of the format (the magic a file starts with, whether packets carry alpha,
// the words of a refusal, a check's line and result) it asks here.
//
// Every read and write runs with the GIL released, so that threads reading
// different files use every core.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "host/bitmap_storage.h"
#include "output/atomic_output.h"
#include "pic/pic_image.h"
#include "python/picfile_engine.h"

namespace py = pybind11;

namespace {

// A request no PIC image can answer, raised in Python as picfile.PicError.
class PicRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

const char* StatusName(PicImageStatus status)
{
    switch (status) {
    case PicImageStatus::Ok:
        return "ok";
    case PicImageStatus::CannotOpen:
        return "cannot open";
    case PicImageStatus::BadHeader:
        return "bad header";
    case PicImageStatus::NoPixels:
        return "no pixels";
    case PicImageStatus::TooLarge:
        return "too large";
    case PicImageStatus::NoMemory:
        return "no memory";
    }
    return "";
}

// The facts as a dict: status, error (the words pictool uses), errno, and
// for a header that reads: width, height, comment (80 bytes as stored),
// aspect, packets [(type, mask), ...], rowsComplete, damage (None or
// (row, offset, reason, text)), trailingBytes and salvage (None, or what
// salvage found and lost, in words).
py::dict FactsDict(const PicImageFacts& facts)
{
    py::dict out;
    out["status"] = StatusName(facts.status);
    out["error"] = PicStatusText(facts);
    out["errno"] = facts.openErrno;
    if (facts.status == PicImageStatus::CannotOpen || facts.status == PicImageStatus::BadHeader)
        return out;
    out["width"] = facts.width;
    out["height"] = facts.height;
    out["alpha"] = facts.Alpha();
    out["comment"] = py::bytes(facts.comment, kPicCommentSize);
    out["aspect"] = facts.aspect;
    py::list packets;
    for (const PicChannelPacket& packet : facts.packets)
        packets.append(py::make_tuple(packet.type, packet.channel));
    out["packets"] = packets;
    out["packetsText"] = PicPacketsText(facts.packets);
    out["rowsComplete"] = facts.rows.rowsComplete;
    if (facts.rows.damaged) {
        const PicDamage& damage = facts.rows.damage;
        out["damage"] = py::make_tuple(damage.row, damage.offset, PicRowStatusText(damage.reason),
                                       PicDamageText(facts));
    } else {
        out["damage"] = py::none();
    }
    out["trailingBytes"] = facts.rows.trailingBytes;
    out["salvage"] = facts.salvaged ? py::object(py::str(PicSalvageText(facts))) : py::none();
    return out;
}

// `values` (height x width x channels, owned by the array, no copy made)
// as an array of T.
template <typename T>
py::object OwningArray(std::unique_ptr<T[]>& values, const PicImageFacts& facts)
{
    const py::ssize_t width = py::ssize_t(facts.width);
    const py::ssize_t channels = py::ssize_t(facts.Channels());
    const py::ssize_t size = py::ssize_t(sizeof(T));
    T* pixels = values.release();
    py::capsule owner(pixels, [](void* bytes) { delete[] static_cast<T*>(bytes); });
    return py::array_t<T>({py::ssize_t(facts.height), width, channels},
                          {width * channels * size, channels * size, size}, pixels, owner);
}

// (facts, array or None): uint8, or uint16 for pixels read at a stored
// depth of 16 bits. A picture of no pixels is refused as a check refuses
// it: a header that declares a width or height of 0 holds no image to hand
// out.
py::tuple Answer(PicImage& image)
{
    if (image.facts.status == PicImageStatus::Ok && image.facts.Pixels() == 0) {
        image.facts.status = PicImageStatus::NoPixels;
        image.pixels.reset();
        image.pixels16.reset();
    }
    py::object array = py::none();
    if (image.pixels != nullptr)
        array = OwningArray(image.pixels, image.facts);
    else if (image.pixels16 != nullptr)
        array = OwningArray(image.pixels16, image.facts);
    return py::make_tuple(FactsDict(image.facts), array);
}

// What Python asks of a read: the pixels or only a check, their limit, 16
// bits where the file stores them, and a salvage of rows after damage.
PicReadRequest ReadRequest(bool decode, uint64_t maxPixels, bool stored, bool salvage)
{
    PicReadRequest request;
    request.decode = decode;
    request.maxPixels = maxPixels;
    request.depth = stored ? PicDepth::Stored : PicDepth::Eight;
    request.salvage = salvage;
    return request;
}

py::tuple ReadFile(const std::string& path, bool decode, uint64_t maxPixels, bool stored,
                   bool salvage)
{
    SystemPath(path);
    const PicReadRequest request = ReadRequest(decode, maxPixels, stored, salvage);
    PicImage image;
    {
        py::gil_scoped_release released;
        image = ReadPicImageFile(path.c_str(), request);
    }
    return Answer(image);
}

// The bytes of a one-dimensional buffer of bytes (the Python half casts
// any other to one).
std::string_view BufferBytes(const py::buffer_info& bytes)
{
    if (bytes.ndim != 1 || bytes.itemsize != 1 || bytes.strides[0] != 1)
        throw py::value_error("PIC data must be contiguous bytes");
    return std::string_view(static_cast<const char*>(bytes.ptr), size_t(bytes.size));
}

py::tuple ReadMemory(const py::buffer& data, bool decode, uint64_t maxPixels, bool stored,
                     bool salvage)
{
    const py::buffer_info buffer = data.request();
    const std::string_view bytes = BufferBytes(buffer);
    const PicReadRequest request = ReadRequest(decode, maxPixels, stored, salvage);
    PicImage image;
    {
        py::gil_scoped_release released;
        image = ReadPicImageMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                   request);
    }
    return Answer(image);
}

// The header alone, for PicFile's attributes.
py::dict ReadHeaderFacts(PicByteSource& source)
{
    PicImageFacts facts;
    PicHeader header;
    facts.headerStatus = ReadPicHeader(source, header, facts.packets);
    if (facts.headerStatus != PicHeaderStatus::Read) {
        facts.status = PicImageStatus::BadHeader;
        return FactsDict(facts);
    }
    facts.width = header.Width();
    facts.height = header.Height();
    std::memcpy(facts.comment, header.comment, kPicCommentSize);
    facts.aspect = header.ratio;
    py::dict out = FactsDict(facts);
    // Rows are not read here.
    out["rowsComplete"] = py::none();
    out["damage"] = py::none();
    out["trailingBytes"] = py::none();
    return out;
}

py::dict ReadHeaderFile(const std::string& path)
{
    errno = 0;
    FILE* file = std::fopen(SystemPath(path), "rb");
    if (file == nullptr) {
        PicImageFacts facts;
        facts.status = PicImageStatus::CannotOpen;
        facts.openErrno = errno;
        return FactsDict(facts);
    }
    std::unique_ptr<FILE, int (*)(FILE*)> closer(file, std::fclose);
    PicByteSource source(file, 256);
    return ReadHeaderFacts(source);
}

py::dict ReadHeaderMemory(const py::buffer& data)
{
    const py::buffer_info buffer = data.request();
    const std::string_view bytes = BufferBytes(buffer);
    PicByteSource source(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return ReadHeaderFacts(source);
}

struct WriteRequest {
    const uint8_t* pixels;
    uint32_t width;
    uint32_t height;
    int channels;
    PicWriteOptions options;
};

// The array as the Python half checked it: C-contiguous uint8 (H, W, 3|4).
WriteRequest MakeRequest(const py::array_t<uint8_t, py::array::c_style>& array, bool compressed,
                         const py::bytes& comment, float aspect)
{
    if (array.ndim() != 3 || (array.shape(2) != 3 && array.shape(2) != 4))
        throw py::value_error("expected an array of shape (H, W, 3) or (H, W, 4)");
    if (array.shape(0) > py::ssize_t(kPicMaxSide) || array.shape(1) > py::ssize_t(kPicMaxSide))
        throw py::value_error(PicTooLargeText());
    if (array.shape(0) == 0 || array.shape(1) == 0) {
        PicImageFacts facts;
        facts.status = PicImageStatus::NoPixels;
        facts.width = uint32_t(array.shape(1));
        facts.height = uint32_t(array.shape(0));
        throw PicRefused(PicStatusText(facts));
    }
    const std::string_view text(comment);
    if (text.size() >= size_t(kPicCommentSize))
        throw py::value_error("comment longer than 79 bytes");
    WriteRequest request{array.data(), uint32_t(array.shape(1)), uint32_t(array.shape(0)),
                         int(array.shape(2)), PicWriteOptions()};
    request.options.compressed = compressed;
    request.options.aspect = aspect;
    std::memcpy(request.options.comment, text.data(), text.size());
    return request;
}

void WriteFile(const std::string& path, const py::array_t<uint8_t, py::array::c_style>& array,
               bool compressed, const py::bytes& comment, float aspect)
{
    SystemPath(path);
    const WriteRequest request = MakeRequest(array, compressed, comment, aspect);
    int failure = 0;
    bool noMemory = false;
    {
        py::gil_scoped_release released;
        try {
            AtomicOutput output;
            FILE* file = output.Open(path.c_str());
            if (file == nullptr) {
                failure = errno != 0 ? errno : EIO;
            } else {
                // A write the C library fails without setting errno must
                // not show an older, unrelated reason.
                errno = EIO;
                const PicWriteResult result = WritePicImage(
                    file, request.pixels, request.width, request.height, request.channels,
                    size_t(request.width) * size_t(request.channels), request.options);
                if (result == PicWriteResult::NoMemory)
                    noMemory = true;
                else if (result != PicWriteResult::Written)
                    failure = errno != 0 ? errno : EIO;
                else if (!output.Commit())
                    failure = errno != 0 ? errno : EIO;
            }
        } catch (const std::bad_alloc&) {
            noMemory = true;
        }
    }
    if (noMemory)
        throw std::bad_alloc();
    if (failure != 0) {
        errno = failure;
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
        throw py::error_already_set();
    }
}

class BytesOutput : public PicOutput {
public:
    std::string bytes;
    bool Put(const uint8_t* data, size_t count) override
    {
        bytes.append(reinterpret_cast<const char*>(data), count);
        return true;
    }
};

py::bytes Encode(const py::array_t<uint8_t, py::array::c_style>& array, bool compressed,
                 const py::bytes& comment, float aspect)
{
    const WriteRequest request = MakeRequest(array, compressed, comment, aspect);
    BytesOutput output;
    PicWriteResult result;
    {
        py::gil_scoped_release released;
        try {
            result = WritePicImage(
                output, request.pixels, request.width, request.height, request.channels,
                size_t(request.width) * size_t(request.channels), request.options);
        } catch (const std::bad_alloc&) {
            result = PicWriteResult::NoMemory;
        }
    }
    if (result != PicWriteResult::Written)
        throw std::bad_alloc(); // the request was checked: only memory can fail
    return py::bytes(output.bytes);
}

// Whether `prefix`, a file's first bytes, starts with the whole PIC magic:
// the sniff of Pillow's and imageio's registrations.
bool StartsAsPic(const py::bytes& prefix)
{
    const std::string_view bytes(prefix);
    return bytes.size() >= sizeof(kPicMagic) &&
           PicMagicAgrees(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

PYBIND11_MODULE(_core, module)
{
    module.doc() = "Softimage PIC images: the C++ reader and writer behind picfile";
    module.attr("DEFAULT_MAX_PIXELS") = kMaxStoragePixels;
    module.attr("COMMENT_SIZE") = kPicCommentSize;
    module.attr("MAX_SIDE") = kPicMaxSide;
    py::register_exception<PicRefused>(module, "PicError", PyExc_ValueError);
    module.def("starts_as_pic", &StartsAsPic, py::arg("prefix"));
    module.def("read_file", &ReadFile, py::arg("path"), py::arg("decode"), py::arg("max_pixels"),
               py::arg("stored") = false, py::arg("salvage") = false);
    module.def("read_memory", &ReadMemory, py::arg("data"), py::arg("decode"),
               py::arg("max_pixels"), py::arg("stored") = false, py::arg("salvage") = false);
    module.def("read_header_file", &ReadHeaderFile, py::arg("path"));
    module.def("read_header_memory", &ReadHeaderMemory, py::arg("data"));
    module.def("write_file", &WriteFile, py::arg("path"), py::arg("array"), py::arg("compressed"),
               py::arg("comment"), py::arg("aspect"));
    module.def("encode", &Encode, py::arg("array"), py::arg("compressed"), py::arg("comment"),
               py::arg("aspect"));
    AddEngineFunctions(module);
}
