#include "pic/pic_salvage_search.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_set>

PicPathSearch::PicPathSearch(const uint8_t* rows, size_t rowSize,
                             const std::vector<PicChannelPacket>& packets, uint32_t rowWidth,
                             uint32_t rowCount, uint64_t budget)
    : data(rows), size(rowSize), width(rowWidth), height(rowCount), allowed(budget)
{
    for (const PicChannelPacket& packet : packets)
        steps.push_back(Step{packet.type, size_t(PacketPixelBytes(packet))});
}

// Decodes a row without storing it, only to see where it ends, with the
// same outcome as PicRowReader on the same bytes: Whole exactly when
// ReadRow answers Whole and no byte of the row lay past the end of the data.
PicPathSearch::RowScan PicPathSearch::Row(size_t at)
{
    size_t offset = at;
    for (const Step& step : steps) {
        const Ending ending = step.type == kPacketRaw             ? Raw(offset, step.pixelBytes)
                              : step.type == kPacketPureRunLength ? Pure(offset, step.pixelBytes)
                                                                  : Mixed(offset, step.pixelBytes);
        if (ending != Ending::Whole)
            return RowScan{ending, at};
    }
    return RowScan{Ending::Whole, offset};
}

PicPathSearch::Ending PicPathSearch::Raw(size_t& offset, size_t pixelBytes)
{
    ++used;
    const size_t bytes = size_t(width) * pixelBytes;
    if (size - offset < bytes)
        return Ending::Cut;
    offset += bytes;
    return Ending::Whole;
}

// As the mixed decoder: a row of width 0 still reads one packet. A spent
// budget ends the row as if it failed; the caller tells the two apart.
PicPathSearch::Ending PicPathSearch::Mixed(size_t& offset, size_t pixelBytes)
{
    uint32_t position = 0;
    do {
        if (++used > allowed)
            return Ending::Failed;
        if (offset == size)
            return Ending::Cut;
        const uint32_t count = data[offset++];
        uint32_t pixels;
        size_t bytes = pixelBytes;
        if (count == 128) {
            if (size - offset < 2)
                return Ending::Cut;
            pixels = uint32_t(data[offset]) << 8 | data[offset + 1];
            offset += 2;
        } else if (count < 128) {
            pixels = count + 1;
            bytes = pixels * pixelBytes;
        } else {
            pixels = count - 127;
        }
        if (pixels > width - position)
            return Ending::Failed;
        if (size - offset < bytes)
            return Ending::Cut;
        offset += bytes;
        position += pixels;
    } while (position < width);
    return Ending::Whole;
}

PicPathSearch::Ending PicPathSearch::Pure(size_t& offset, size_t pixelBytes)
{
    uint32_t position = 0;
    while (position < width) {
        if (++used > allowed)
            return Ending::Failed;
        if (offset == size)
            return Ending::Cut;
        const uint32_t count = data[offset++];
        if (count == 0 || count > width - position)
            return Ending::Failed;
        if (size - offset < pixelBytes)
            return Ending::Cut;
        offset += pixelBytes;
        position += count;
    }
    return Ending::Whole;
}

// Where the first and the last pixel of the first packet's stream of a
// whole row lie, and whether the packets holding them are both literals.
PicPathSearch::Edges PicPathSearch::EdgesOf(size_t row) const
{
    const size_t pixelBytes = steps[0].pixelBytes;
    if (steps[0].type == kPacketRaw)
        return Edges{row, row + (width - 1) * pixelBytes, false};
    Edges edges{SIZE_MAX, row, true};
    size_t offset = row;
    for (uint32_t position = 0; position < width && offset < size;) {
        const uint32_t count = data[offset];
        const bool literal = steps[0].type == kPacketMixedRunLength && count < 128;
        const size_t head = steps[0].type == kPacketMixedRunLength && count == 128 ? 3 : 1;
        if (edges.first == SIZE_MAX) {
            edges.first = offset + head;
            edges.literal = literal;
        }
        if (literal) {
            edges.last = offset + 1 + count * pixelBytes;
            position += count + 1;
            offset += 1 + (count + 1) * pixelBytes;
        } else {
            edges.last = offset + head;
            position += steps[0].type == kPacketPureRunLength ? count
                        : count == 128 && size - offset > 2
                            ? uint32_t(data[offset + 1]) << 8 | data[offset + 2]
                            : count - 127;
            offset += head + pixelBytes;
        }
        if (position >= width)
            edges.literal = edges.literal && literal;
    }
    return edges;
}

uint32_t PicPathSearch::Seam(size_t previous, size_t row) const
{
    const size_t last = EdgesOf(previous).last, first = EdgesOf(row).first;
    uint32_t sum = 0;
    for (size_t byte = 0; byte < steps[0].pixelBytes && first + byte < size && last + byte < size;
         ++byte)
        sum += uint32_t(std::abs(int(data[first + byte]) - int(data[last + byte])));
    return sum;
}

bool PicPathSearch::LiteralEdges(size_t row) const
{
    return EdgesOf(row).literal;
}

uint32_t PicPathSearch::OwnRows(int32_t path) const
{
    return uint32_t(paths[size_t(path)].starts.size() - 1);
}

uint32_t PicPathSearch::Rows(int32_t path) const
{
    uint32_t rows = 0;
    for (;;) {
        ++used;
        const PicRowPath& own = paths[size_t(path)];
        rows += uint32_t(own.starts.size() - 1);
        if (own.joins < 0)
            return rows;
        rows -= own.joinRow;
        path = own.joins;
    }
}

size_t PicPathSearch::RowStart(int32_t path, uint32_t row) const
{
    for (;;) {
        ++used;
        const PicRowPath& own = paths[size_t(path)];
        const uint32_t ownRows = uint32_t(own.starts.size() - 1);
        if (row <= ownRows)
            return own.starts[row];
        row = row - ownRows + own.joinRow;
        path = own.joins;
    }
}

bool PicPathSearch::ReachesEnd(int32_t path) const
{
    for (++used; paths[size_t(path)].joins >= 0; ++used)
        path = paths[size_t(path)].joins;
    return paths[size_t(path)].end == PicPathEnd::Exact;
}

uint32_t PicPathSearch::RowsWithin(int32_t path, uint32_t first, size_t offset) const
{
    uint32_t low = 0, high = Rows(path) - first;
    while (low < high) {
        const uint32_t middle = low + (high - low + 1) / 2;
        if (RowStart(path, first + middle) <= offset)
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

// Follows `path` until it ends, runs into a known path or has `limit` rows
// of its own; true when it can go on.
bool PicPathSearch::Extend(PicRowPath& path, uint32_t limit)
{
    while (path.starts.size() - 1 < limit) {
        const RowScan scan = Row(path.starts.back());
        if (Spent()) {
            path.end = PicPathEnd::Stopped;
            return false;
        }
        if (scan.ending != Ending::Whole) {
            path.end = scan.ending == Ending::Cut ? PicPathEnd::Cut : PicPathEnd::Failed;
            return false;
        }
        path.starts.push_back(scan.next);
        if (scan.next == size) {
            path.end = PicPathEnd::Exact;
            return false;
        }
        const auto found = known.find(scan.next);
        if (found != known.end()) {
            path.joins = found->second.first;
            path.joinRow = found->second.second;
            return false;
        }
    }
    if (limit < height)
        return true;
    path.end = PicPathEnd::Capped;
    return false;
}

int32_t PicPathSearch::Commit(PicRowPath& path)
{
    const int32_t id = int32_t(paths.size());
    for (size_t row = 0; row + 1 < path.starts.size(); ++row)
        known.emplace(path.starts[row], std::make_pair(id, uint32_t(row)));
    paths.push_back(std::move(path));
    return id;
}

// A window at the row where `path` fails, unless that lies in one tried.
void PicPathSearch::Open(int32_t path)
{
    const PicRowPath& own = paths[size_t(path)];
    if (own.joins >= 0 || own.end != PicPathEnd::Failed)
        return;
    PicSearchWindow window;
    window.incoming = path;
    window.breakRow = OwnRows(path);
    windows.push_back(window);
}

// A path from `start` when its rows confirm it.
void PicPathSearch::TryPath(size_t start, uint32_t window)
{
    PicRowPath path;
    path.starts.push_back(start);
    path.window = window;
    const bool more = Extend(path, kPicSalvageConfirmRows);
    const bool strong = more || path.joins >= 0 || path.end == PicPathEnd::Exact ||
                        path.starts.size() - 1 >= kPicSalvageConfirmRows;
    if (!strong)
        return;
    if (more)
        Extend(path, height);
    Open(Commit(path));
}

void PicPathSearch::Start()
{
    PicRowPath first;
    first.starts.push_back(0);
    Extend(first, height);
    Commit(first);
    const uint32_t rows = OwnRows(0);
    PicSearchWindow window;
    if (paths[0].end == PicPathEnd::Failed || paths[0].end == PicPathEnd::Cut) {
        window.breakRow = rows;
    } else if (paths[0].end == PicPathEnd::Exact && rows < height && rows > 0) {
        // Every byte read as rows, but too few: a damaged row swallowed
        // the missing ones. It is the row whose length is that of as many
        // rows more as are missing, by the rows around it.
        const std::vector<size_t>& starts = paths[0].starts;
        const uint64_t missing = height - rows;
        uint64_t best = UINT64_MAX;
        for (uint32_t row = 0; row < rows; ++row) {
            uint64_t low = UINT64_MAX, high = 0;
            for (uint32_t other = row > 4 ? row - 4 : 0; other < rows && other <= row + 4;
                 ++other) {
                if (other == row)
                    continue;
                low = std::min<uint64_t>(low, starts[other + 1] - starts[other]);
                high = std::max<uint64_t>(high, starts[other + 1] - starts[other]);
            }
            const uint64_t length = starts[row + 1] - starts[row];
            const uint64_t least = low == UINT64_MAX ? 0 : (missing + 1) * low;
            const uint64_t most = (missing + 1) * high;
            const uint64_t off = length < least  ? least - length
                                 : length > most ? length - most
                                                 : 0;
            if (off < best) {
                best = off;
                window.breakRow = row;
            }
        }
    } else {
        return;
    }
    windows.push_back(window);
}

// Tries offsets [from, until) of window `index` (see the header). A first
// try goes on to two rows past the first row start after the break, and at
// least two of the failing path's rows past the break, since that path may
// have run out of step beside the file's own rows.
void PicPathSearch::Sweep(uint32_t index, size_t from, size_t until)
{
    const PicSearchWindow& window = windows[index];
    const size_t breakAt = RowStart(window.incoming, window.breakRow);
    size_t longest = 0;
    for (uint32_t row = window.breakRow > 4 ? window.breakRow - 4 : 0; row < window.breakRow; ++row)
        longest =
            std::max(longest, RowStart(window.incoming, row + 1) - RowStart(window.incoming, row));
    const bool first = window.to == 0;
    std::unordered_set<size_t> ends; // where the rows tried in this sweep end
    size_t stop = until, at = from;
    for (; at < stop && at < size && !Spent(); ++at) {
        const bool reached = ends.erase(at) != 0;
        const RowScan scan = Row(at);
        if (scan.ending != Ending::Whole)
            continue;
        ends.insert(scan.next);
        if (!reached && known.count(at) == 0)
            TryPath(at, index);
        if (first && stop == until && at >= breakAt && known.count(at) != 0)
            stop = std::max(at + 2 * (scan.next - at), breakAt + 2 * longest);
    }
    windows[index].from = from;
    if (first)
        windows[index].to = std::max(at, from + 1);
}

bool PicPathSearch::OpenAt(int32_t path, uint32_t row)
{
    while (row >= OwnRows(path) && paths[size_t(path)].joins >= 0) {
        row = row - OwnRows(path) + paths[size_t(path)].joinRow;
        path = paths[size_t(path)].joins;
    }
    const size_t at = RowStart(path, row);
    for (const PicSearchWindow& window : windows) {
        if (window.from <= at && at < window.to)
            return false;
    }
    PicSearchWindow window;
    window.incoming = path;
    window.breakRow = row;
    windows.push_back(window);
    return true;
}

void PicPathSearch::Explore()
{
    while (tried < windows.size() && !Spent()) {
        const uint32_t index = uint32_t(tried++);
        const PicSearchWindow window = windows[index];
        const size_t breakAt = RowStart(window.incoming, window.breakRow);
        bool covered = false;
        for (uint32_t other = 0; other < index && !covered; ++other)
            covered = windows[other].from <= breakAt && breakAt < windows[other].to;
        if (covered)
            continue;
        const uint32_t back = std::min(window.back, window.breakRow);
        Sweep(index, RowStart(window.incoming, window.breakRow - back), size);
    }
}

bool PicPathSearch::Widen(uint32_t index)
{
    PicSearchWindow& window = windows[index];
    if (window.to == 0 || window.back >= window.breakRow || Spent())
        return false;
    const size_t oldFrom = window.from;
    window.back = std::min(2 * window.back, window.breakRow);
    Sweep(index, RowStart(window.incoming, window.breakRow - window.back), oldFrom);
    return true;
}
