// Where the rows of a damaged run-length PIC file can lie: the chains of
// rows its bytes decode to around each break, for PlanPicSalvage
// (pic/pic_salvage.h) to place.
//
// A row has no marker, but it must decode to exactly `width` pixels in each
// packet, and its start decides where it ends. So the rows that decode
// exactly, one after another, form paths, and two paths that reach the same
// row start run on together from there. The plain read's rows from the
// first byte are path 0. Around a break (a row that does not decode) every
// offset of a window is tried: from a few of the failing path's rows before
// the break to a little past the first path that resumes after it. An
// offset whose row decodes, that no row tried in the window ends at, and
// whose rows go on (kPicSalvageConfirmRows of them, or to the end of the
// data, or into a path already known) begins a path, followed to where it
// fails, is cut, or runs into a known one; where it fails, the next window
// opens. A window is widened backwards when a path it found may have begun
// before it: a path the plain read followed out of step after damage can run
// beside the file's own rows for many rows before it fails.
//
// Every row tried costs its packet reads, counted against a budget, and so
// does every step along a path's rows when looking one up (PlanPicSalvage's
// weighing does little else); when it is spent the search stops where it
// is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "pic/pic_header.h"

// Rows that must decode one after another before an offset begins a path.
constexpr uint32_t kPicSalvageConfirmRows = 3;

// How a path's last row ends.
enum class PicPathEnd : uint8_t {
    Exact,   // exactly at the end of the data
    Failed,  // the next row does not decode
    Cut,     // the data ends inside the next row
    Capped,  // as many rows as the picture has
    Stopped, // the search spent its budget
};

struct PicRowPath {
    std::vector<size_t> starts; // its own rows' starts, then where the last one ends
    int32_t joins = -1;         // the path whose row `joinRow` starts at starts.back()
    uint32_t joinRow = 0;
    PicPathEnd end = PicPathEnd::Failed; // when it joins none
    uint32_t window = 0;                 // the window its first row was found in
};

struct PicSearchWindow {
    int32_t incoming = 0;  // the path whose break opened it
    uint32_t breakRow = 0; // that path's row (of its own) that failed
    uint32_t back = 2;     // its rows tried before the break
    size_t from = 0;       // offsets tried: [from, to)
    size_t to = 0;
};

class PicPathSearch {
public:
    PicPathSearch(const uint8_t* rows, size_t size, const std::vector<PicChannelPacket>& packets,
                  uint32_t width, uint32_t height, uint64_t budget);

    // Follows the rows from the first byte as path 0 and opens the window
    // at its break: the row that fails, or, when its rows end exactly at the
    // end of the data but are fewer than the picture's, its row that
    // explains the missing rows best by its length.
    void Start();
    // Tries the windows opened and not yet tried, and those that their
    // paths open in turn.
    void Explore();
    // Tries window `index` from twice as many rows back; false when it
    // already starts at its path's first row.
    bool Widen(uint32_t index);
    // Opens a window at row `row` of `path`, one that decodes but whose
    // length says it is damaged, unless a window tried covers it; true
    // when it does.
    bool OpenAt(int32_t path, uint32_t row);

    const std::vector<PicRowPath>& Paths() const { return paths; }
    const std::vector<PicSearchWindow>& Windows() const { return windows; }
    uint32_t Rows(int32_t path) const;
    // Where row `row` of `path` starts; row Rows(path) gives where it ends.
    size_t RowStart(int32_t path, uint32_t row) const;
    // Its last row ends exactly at the end of the data.
    bool ReachesEnd(int32_t path) const;
    // The most rows of `path` from row `first` on that end at or before `offset`.
    uint32_t RowsWithin(int32_t path, uint32_t first, size_t offset) const;

    // How far the first pixel of the row at `row` is from the last of the
    // row at `previous`, which ends there: the sum over the first packet's
    // channel bytes.
    uint32_t Seam(size_t previous, size_t row) const;
    // The row at `offset` begins and ends with literal packets.
    bool LiteralEdges(size_t row) const;

    size_t Size() const { return size; }
    uint32_t Height() const { return height; }
    bool Spent() const { return used >= allowed; }
    uint64_t Steps() const { return used; }

private:
    struct Step {
        uint8_t type;
        size_t pixelBytes;
    };
    enum class Ending { Whole, Failed, Cut };
    struct RowScan {
        Ending ending;
        size_t next;
    };

    RowScan Row(size_t at);
    Ending Raw(size_t& offset, size_t pixelBytes);
    Ending Pure(size_t& offset, size_t pixelBytes);
    Ending Mixed(size_t& offset, size_t pixelBytes);
    uint32_t OwnRows(int32_t path) const;
    struct Edges {
        size_t first;
        size_t last;
        bool literal;
    };
    Edges EdgesOf(size_t row) const;
    bool Extend(PicRowPath& path, uint32_t limit);
    int32_t Commit(PicRowPath& path);
    void TryPath(size_t start, uint32_t window);
    void Sweep(uint32_t index, size_t from, size_t until);
    void Open(int32_t path);

    const uint8_t* data;
    size_t size;
    uint32_t width;
    uint32_t height;
    uint64_t allowed;
    mutable uint64_t used = 0; // looking rows up counts too
    std::vector<Step> steps;
    std::vector<PicRowPath> paths;
    std::vector<PicSearchWindow> windows;
    size_t tried = 0; // windows tried so far, in order
    // Each path's own row starts: the path and its row there.
    std::unordered_map<size_t, std::pair<int32_t, uint32_t>> known;
};
