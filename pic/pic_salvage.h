// Salvage: the rows of a damaged run-length PIC file that lie after the
// damage.
//
// A run-length row has no marker, but it must decode to exactly `width`
// pixels in each packet, so a row start can be told by trying: after a row
// that does not decode, every later offset is tried, and one is taken only
// where several rows in a row (or the rest of the file) decode exactly. At
// a wrong offset a row seldom decodes exactly; where one does, the next few
// seldom do. Where rows share their packets' edges (stripes, noise coded as
// literals of 128), chains shifted along the rows decode too, but never end
// exactly at the end of the file; and a chain that starts with a stretch of
// other bytes ending exactly where a row starts is told from the file's own
// rows by which starts the chains near it agree on.
//
// Rows found are placed by counting from the end: the chain that ends
// exactly at the end of the file ends at the picture's last row (or a lone
// chain one row after the break, when that makes the rows add up). Chains
// between two breaks are not placed: a break that lost no row and one that
// lost two add up as well as two that lost one each, and a row in the wrong
// place would be a picture the file never held. Raw rows cannot lose step,
// and a file cut short keeps what it has, so salvage only acts after a
// run-length row that does not decode.
//
// The search is bounded: it reads at most kPicSalvageStepsPerByte packets a
// byte of the rows' data, plus kPicSalvageFixedSteps (and one confirmation
// beyond), and then stops, saying so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pic/pic_header.h"

// Rows first to last, both included.
struct PicRowRange {
    uint32_t first;
    uint32_t last;
};

// What salvage did to a picture.
struct PicSalvage {
    std::vector<PicRowRange> lostRows; // rows the picture lacks (transparent black), in order
    uint32_t recoveredRows = 0;        // rows after the first damage decoded and placed
    uint32_t unplacedRows = 0;         // rows that decoded after damage but whose place was unsure
    bool searchStopped = false;        // the search spent its budget before the end of the file
    uint64_t steps = 0;                // packets (and raw packet rows) the search read
};

// Rows [row, row + count) decode from `offset` on, one after another.
struct PicSalvagedRows {
    uint32_t row;
    uint32_t count;
    size_t offset;
};

struct PicSalvagePlan {
    std::vector<PicSalvagedRows> found; // in row order
    PicSalvage salvage;                 // with lostRows as `found` leaves them
};

constexpr uint64_t kPicSalvageStepsPerByte = 8;
constexpr uint64_t kPicSalvageFixedSteps = 1 << 20;
// Rows that must decode in a row before a start is taken.
constexpr int kPicSalvageConfirmRows = 4;

// `rows` holds the file's row data (`size` bytes, from the first row's
// start). Rows 0 to firstLost - 1 decoded; row firstLost, starting at
// `lostOffset`, is a run-length row that did not decode. Plans where rows
// after it can be read, for a picture `height` rows high. Allocates little
// (may throw std::bad_alloc).
PicSalvagePlan PlanPicSalvage(const uint8_t* rows, size_t size,
                              const std::vector<PicChannelPacket>& packets, uint32_t width,
                              uint32_t height, uint32_t firstLost, size_t lostOffset);

// The rows from firstLost to height - 1 that `found` leaves out, as ranges.
std::vector<PicRowRange> PicLostRows(const std::vector<PicSalvagedRows>& found, uint32_t firstLost,
                                     uint32_t height);
