// Salvage: the rows of a damaged run-length PIC file that lie after the
// damage, each in its place or not at all.
//
// pic/pic_salvage_search.h finds the chains of rows ("paths") the bytes
// decode to around each break. Placing them is a matter of accounting for
// the bytes: two things fix rows' places, the first row at the first byte
// and, for a path that ends exactly at the end of the data, the last row.
// Between two placed stretches of rows lie the rows lost to the damage, and
// their bytes: damage keeps sizes or changes them by a byte, so those bytes
// are about as many rows long as the rows on either side. Every way of
// choosing stretches (a path may drop rows at its start, where a row of
// other bytes can happen to end where a row starts, and at its end, where
// the plain read may have gone on out of step after the damage) and of
// numbering the rows between them is weighed by the bytes its gaps leave
// unexplained, then by the rows it loses. The best is taken, less every
// row that an explanation nearly as good puts elsewhere, or puts another
// row in: rows in doubt are lost, not guessed. So a stretch between two
// breaks is placed only where one count of rows for its gaps clearly fits
// their bytes best, and rows the plain read decoded out of step, which it
// reports whole, are dropped where the file's own rows are found in their
// place. Raw rows cannot lose step, and a file cut short keeps what it has,
// so salvage only acts after a run-length row that does not decode.
//
// The search is bounded: it takes at most kPicSalvageStepsPerByte steps a
// byte of the rows' data, plus kPicSalvageFixedSteps, and then stops,
// saying so. A step is a packet read or a look-up of a row's start, which
// is most of the placing's work. Stopped, it keeps the last placing it
// weighed in full, or else the plain read's rows.
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
    uint32_t recoveredRows = 0;        // rows from plainRows on that salvage decoded and placed
    uint32_t unplacedRows = 0;         // rows that decoded but whose place was in doubt
    bool searchStopped = false;        // the search spent its budget before the end of the file
    uint64_t steps = 0;                // packets (and raw packet rows) the search read
    // Rows 0 to plainRows - 1 are those the plain read decoded; the rest
    // are recovered or lost. Fewer than the plain read decoded where it
    // went on out of step after damage.
    uint32_t plainRows = 0;
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

// `rows` holds the file's row data (`size` bytes, from the first row's
// start) of a picture `height` rows high whose plain read decoded rows 0 to
// firstLost - 1 and then stopped: a run-length row that does not decode,
// or the end of the data. Plans which rows to keep and where the rest can
// be read. Allocates about as much as the picture's rows and the paths
// found take (may throw std::bad_alloc).
PicSalvagePlan PlanPicSalvage(const uint8_t* rows, size_t size,
                              const std::vector<PicChannelPacket>& packets, uint32_t width,
                              uint32_t height, uint32_t firstLost);

// The rows from firstLost to height - 1 that `found` leaves out, as ranges.
std::vector<PicRowRange> PicLostRows(const std::vector<PicSalvagedRows>& found, uint32_t firstLost,
                                     uint32_t height);
