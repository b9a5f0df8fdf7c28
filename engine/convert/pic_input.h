// A PIC input read once: its bytes in memory (support/input_bytes.h), no
// more of them than its picture can need, and its header as pic/ reads it.
// Everything the pipeline and the commands say of the file (its size, its
// comment, its damage, and why it is not a PIC file) comes from these bytes;
// the plug-in's driver, where one loads it, opens the memory by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/support/input_bytes.h"
#include "host/host_api.h"
#include "pic/pic_header.h"

// The first piece of a regular file read in one read; a larger file is
// read in a second, once its header tells what its picture can need.
constexpr uint64_t kPicFirstPiece = uint64_t(64) << 20;

struct PicInput {
    InputBytes bytes;
    bool opened = false;
    bool readFailed = false; // a read of the system failed: bytes.Error() says why
    PicHeaderStatus headerStatus = PicHeaderStatus::BadMagic;
    PicHeader header{};
    std::vector<PicChannelPacket> packets;

    bool HeaderRead() const { return headerStatus == PicHeaderStatus::Read; }
};

// Opens `path` ("-" is standard input) and reads its header and as many
// bytes as a picture of that header can take (PicMostRowBytes), or only the
// header when it declares more than `maxPixels`; with `skipRest`, reads what
// follows too, counting it in `trailing`. False when it cannot be opened or
// read: `input.bytes.Error()` says why.
bool ReadPicInput(const std::string& path, uint64_t maxPixels, PicInput& input);
bool ReadPicInput(const std::string& path, uint64_t maxPixels, PicInput& input, uint64_t& trailing);
// Opens `path` and reads its header and packet chain alone (what image
// information needs), in one read of a regular file.
bool ReadPicInputHeader(const std::string& path, PicInput& input);
// The same for an input whose first bytes were read already (a sniff).
bool ReadRestOfPicInput(uint64_t maxPixels, PicInput& input);

// The bytes a PIC file needs to be read whole: its header, packets and
// rows at their longest, from its first bytes; just `count` when those are
// no header that reads or declare more than `maxPixels` pixels.
uint64_t PicBytesNeeded(const uint8_t* start, size_t count, uint64_t maxPixels);

// The host's result code for an input that cannot be opened or read, as the
// driver answers for the same file: 2 when it cannot be opened or a read
// fails past the header; 13 when a read fails inside the header (the
// driver's header read fails). The words are the system's
// (SystemErrorText(input.bytes.Error())): "input/output error".
BMMRES PicInputFailureResult(const PicInput& input);
