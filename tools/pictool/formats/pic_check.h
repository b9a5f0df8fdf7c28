// What `pictool check` finds in one PIC file, read through the format code
// itself (no plug-in, no host storage); `convert` asks the same of the files
// it loads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "pic/pic_header.h"
#include "pic/pic_row_reader.h"

struct PicFileCheck {
    BMMRES result = kResultSuccess; // 13 for a bad header, 2 when it cannot be opened
    std::string openError;          // the system's words when it cannot be opened
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<PicChannelPacket> packets;
    PicRowsCheck rows;
    bool readFailed = false; // the system failed a read: the damage found may be none

    bool Whole() const { return result == kResultSuccess && !rows.damaged; }
};

PicFileCheck CheckPicFile(const std::string& path);

// {"row": R, "offset": O, "reason": "..."} for a damaged file, else null.
std::string DamageJson(const PicFileCheck& check);
// "cut short in row 17 of 1080 (offset 48213)"
std::string DamageText(const PicFileCheck& check);
