#include "pic/pic_salvage.h"

#include <algorithm>

namespace {

// How a row, or a chain of rows, ended.
enum class Ending {
    Whole,  // the row decoded exactly, every byte present
    Failed, // a packet reached past the row, or a pure count was 0
    Cut,    // the data ended inside the row
    Capped, // (a chain) as many rows as the picture has room for
};

struct RowScan {
    Ending ending;
    size_t next; // after the row, when Whole
};

// A chain of rows from one start.
struct Chain {
    size_t start = 0;
    uint32_t rows = 0;
    size_t end = 0;     // after its last whole row: where the next row starts
    size_t second = 0;  // after its first row
    size_t longest = 0; // bytes of its longest row
    Ending ending = Ending::Failed;
};

// Decodes rows without storing them, only to see where they end, with the
// same outcome as PicRowReader on the same bytes: a row is Whole exactly
// when ReadRow answers Whole and no byte of it lay past the end of the data.
class RowScanner {
public:
    RowScanner(const uint8_t* rowData, size_t rowSize, const std::vector<PicChannelPacket>& packets,
               uint32_t rowWidth, uint64_t budget)
        : data(rowData), size(rowSize), width(rowWidth), allowed(budget)
    {
        for (const PicChannelPacket& packet : packets)
            steps.push_back(Step{packet.type, size_t(PacketPixelBytes(packet))});
    }

    bool Spent() const { return used >= allowed; }
    uint64_t Used() const { return used; }

    RowScan Row(size_t at)
    {
        size_t offset = at;
        for (const Step& step : steps) {
            const Ending ending = step.type == kPacketRaw ? Raw(offset, step.pixelBytes)
                                  : step.type == kPacketPureRunLength
                                      ? Pure(offset, step.pixelBytes)
                                      : Mixed(offset, step.pixelBytes);
            if (ending != Ending::Whole)
                return RowScan{ending, at};
        }
        return RowScan{Ending::Whole, offset};
    }

private:
    struct Step {
        uint8_t type;
        size_t pixelBytes;
    };

    Ending Raw(size_t& offset, size_t pixelBytes)
    {
        ++used;
        const size_t bytes = size_t(width) * pixelBytes;
        if (size - offset < bytes)
            return Ending::Cut;
        offset += bytes;
        return Ending::Whole;
    }

    // As the mixed decoder: a row of width 0 still reads one packet.
    Ending Mixed(size_t& offset, size_t pixelBytes)
    {
        uint32_t position = 0;
        do {
            ++used;
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

    Ending Pure(size_t& offset, size_t pixelBytes)
    {
        uint32_t position = 0;
        while (position < width) {
            ++used;
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

    const uint8_t* data;
    size_t size;
    uint32_t width;
    uint64_t allowed;
    uint64_t used = 0;
    std::vector<Step> steps;
};

class Search {
public:
    Search(RowScanner& rowScanner, size_t rowSize, uint32_t roomRows)
        : scanner(rowScanner), size(rowSize), room(roomRows)
    {
    }

    // Whether rows from `start` decode exactly: kPicSalvageConfirmRows of
    // them, or at least one and then the data ends right after a row.
    bool Confirms(size_t start)
    {
        size_t offset = start;
        for (int row = 0; row < kPicSalvageConfirmRows; ++row) {
            const RowScan scan = scanner.Row(offset);
            if (scan.ending != Ending::Whole)
                return false;
            offset = scan.next;
            if (offset == size)
                return true;
        }
        return true;
    }

    // The rows from `start` on, as far as they decode.
    Chain Follow(size_t start)
    {
        Chain chain;
        chain.start = chain.end = chain.second = start;
        while (!scanner.Spent()) {
            if (chain.rows == room) {
                chain.ending = Ending::Capped;
                return chain;
            }
            const RowScan scan = scanner.Row(chain.end);
            if (scan.ending != Ending::Whole) {
                chain.ending = scan.ending;
                return chain;
            }
            if (scan.next - chain.end > chain.longest)
                chain.longest = scan.next - chain.end;
            chain.end = scan.next;
            if (++chain.rows == 1)
                chain.second = chain.end;
            if (chain.end == size) {
                chain.ending = Ending::Whole;
                return chain;
            }
        }
        chain.ending = Ending::Failed;
        return chain;
    }

    // The first start from `from` on that Confirms, or `size` for none.
    size_t FirstStart(size_t from)
    {
        for (size_t start = from; start < size && !scanner.Spent(); ++start) {
            if (Confirms(start))
                return start;
        }
        return size;
    }

    // The chain to take from the first start at or after `from`: of the
    // starts before that start's second row, one that ends exactly at the
    // end of the data, else of those that get about as far, the one with
    // the fewest rows (the earliest of them).
    bool Next(size_t from, Chain& taken)
    {
        const size_t first = FirstStart(from);
        if (first == size)
            return false;
        std::vector<Chain> chains{Follow(first)};
        const size_t second = chains.front().second;
        for (size_t start = first + 1; start <= second && !scanner.Spent(); ++start) {
            if (Confirms(start))
                chains.push_back(Follow(start));
        }
        taken = Choose(chains, second);
        return true;
    }

private:
    // Of the chains that end exactly at the end of the data, all of which
    // run on the file's own rows in the end, the first that every other
    // agrees with: each other chain has a row start at its start, or it one
    // at theirs. Where two disagree, one began with a row made of other
    // bytes that happened to end at a row start, and nothing tells which:
    // the rows they dispute are left out.
    bool ChooseExact(const std::vector<Chain>& chains, size_t second, Chain& taken)
    {
        std::vector<const Chain*> exact;
        for (const Chain& chain : chains) {
            if (chain.ending == Ending::Whole)
                exact.push_back(&chain);
        }
        if (exact.empty())
            return false;
        std::vector<std::vector<size_t>> starts(exact.size());
        for (size_t index = 0; index < exact.size(); ++index) {
            for (size_t offset = exact[index]->start; offset <= second && offset < size;) {
                starts[index].push_back(offset);
                const RowScan scan = scanner.Row(offset);
                if (scan.ending != Ending::Whole)
                    break;
                offset = scan.next;
            }
        }
        const auto hasStart = [&](size_t index, size_t offset) {
            return std::binary_search(starts[index].begin(), starts[index].end(), offset);
        };
        // Failing that, the one the most others agree with, the latest of them.
        size_t best = 0, bestAgreed = 0;
        for (size_t index = 0; index < exact.size(); ++index) {
            size_t agreed = 0;
            for (size_t other = 0; other < exact.size(); ++other) {
                agreed += other < index ? hasStart(other, exact[index]->start)
                                        : hasStart(index, exact[other]->start);
            }
            if (agreed == exact.size()) {
                best = index;
                break;
            }
            if (agreed >= bestAgreed) {
                best = index;
                bestAgreed = agreed;
            }
        }
        taken = *exact[best];
        return true;
    }

    Chain Choose(const std::vector<Chain>& chains, size_t second)
    {
        Chain exact;
        if (ChooseExact(chains, second, exact))
            return exact;
        const Chain* farthest = &chains.front();
        for (const Chain& chain : chains) {
            if (chain.end > farthest->end)
                farthest = &chain;
        }
        const Chain* best = nullptr;
        for (const Chain& chain : chains) {
            const bool asFar = chain.end + farthest->longest >= farthest->end;
            if (asFar && (best == nullptr || chain.rows < best->rows))
                best = &chain;
        }
        return *best;
    }

    RowScanner& scanner;
    size_t size;
    uint32_t room;
};

// Places the chains found after row firstLost by counting (see the header).
void Place(const std::vector<Chain>& chains, uint32_t firstLost, uint32_t height,
           RowScanner& scanner, PicSalvagePlan& plan)
{
    uint64_t found = 0;
    for (const Chain& chain : chains)
        found += chain.rows;
    // One chain after one break, ending where the rows would end: the break
    // lost one row. Chains between breaks are not placed: a break that lost
    // no row (damage that made its row decode, and the next fail) and one
    // that lost two add up as well as two that lost one each.
    const bool oneRow = chains.size() == 1 && found + 1 == uint64_t(height - firstLost);
    if (oneRow) {
        plan.found.push_back(PicSalvagedRows{firstLost + 1, chains[0].rows, chains[0].start});
        plan.salvage.recoveredRows = chains[0].rows;
        return;
    }
    plan.salvage.unplacedRows = uint32_t(found < UINT32_MAX ? found : UINT32_MAX);
    const Chain& last = chains.back();
    if (last.ending != Ending::Whole)
        return;
    // The last chain ends where the data ends: at the picture's last row.
    // Rows that would fall on or before the first lost row are not taken.
    uint32_t skip = 0;
    while (skip < last.rows && height - (last.rows - skip) <= firstLost)
        ++skip;
    if (skip == last.rows)
        return;
    // Its start after the skipped rows is found by reading them again.
    PicSalvagedRows rows{height - (last.rows - skip), last.rows - skip, last.start};
    for (uint32_t row = 0; row < skip; ++row)
        rows.offset = scanner.Row(rows.offset).next;
    plan.found.push_back(rows);
    plan.salvage.recoveredRows = rows.count;
    plan.salvage.unplacedRows -= rows.count;
}

} // namespace

std::vector<PicRowRange> PicLostRows(const std::vector<PicSalvagedRows>& found, uint32_t firstLost,
                                     uint32_t height)
{
    std::vector<PicRowRange> lost;
    uint32_t row = firstLost;
    for (const PicSalvagedRows& rows : found) {
        if (rows.row > row)
            lost.push_back(PicRowRange{row, rows.row - 1});
        row = rows.row + rows.count;
    }
    if (row < height)
        lost.push_back(PicRowRange{row, height - 1});
    return lost;
}

PicSalvagePlan PlanPicSalvage(const uint8_t* rows, size_t size,
                              const std::vector<PicChannelPacket>& packets, uint32_t width,
                              uint32_t height, uint32_t firstLost, size_t lostOffset)
{
    PicSalvagePlan plan;
    const uint64_t budget = kPicSalvageStepsPerByte * uint64_t(size) + kPicSalvageFixedSteps;
    RowScanner scanner(rows, size, packets, width, budget);
    Search search(scanner, size, height - firstLost);
    std::vector<Chain> chains;
    size_t from = lostOffset + 1;
    Chain chain;
    while (from < size && search.Next(from, chain)) {
        chains.push_back(chain);
        if (chain.ending != Ending::Failed)
            break;
        from = chain.end + 1;
    }
    plan.salvage.searchStopped = scanner.Spent();
    if (!chains.empty())
        Place(chains, firstLost, height, scanner, plan);
    plan.salvage.steps = scanner.Used();
    plan.salvage.lostRows = PicLostRows(plan.found, firstLost, height);
    return plan;
}
