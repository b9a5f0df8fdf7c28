#include "pic/pic_salvage.h"

#include <algorithm>
#include <iterator>
#include <unordered_map>

#include "pic/pic_salvage_search.h"

namespace {

// What an explanation costs: a lost row, and a byte that the rows around a
// gap do not explain. A row is worth several bytes: how long a lost row was
// is only guessed from its neighbours, but how many rows an explanation
// leaves out is exact.
constexpr uint64_t kRowWeight = 6;
constexpr uint64_t kByteWeight = 2;
// A damaged row: of two explanations that lose as many rows, the one that
// takes fewer damaged rows wins.
constexpr uint64_t kBreakWeight = 4;
// Explanations that cost at most this more than the best are possible too.
constexpr uint64_t kDoubt = 3;
// Two paths can run beside each other, row for row a few bytes apart and
// their rows as long: one reads each row from the last packets of the row
// before, the other is the file's own, and their bytes tell them apart
// only where rows vary little. Where both begin and end their rows with
// literals (so the one beside splits a row inside a stretch of literal
// pixels), the rows of the one beside join smoothly across its row ends,
// being pixels side by side in the picture, while the file's own rows end
// at its right edge and begin at its left. The one whose rows join much
// more smoothly (a kSeamRatio-th, and the other's at least kSeamFloor
// apart) is left out. Pictures without smooth stretches (noise), or whose
// edges match (tiles), say nothing here; there the bytes decide, or the
// rows are lost.
constexpr uint32_t kSeamRatio = 4;
constexpr uint32_t kSeamFloor = 16;
constexpr uint32_t kSeamRows = 8; // rows of each compared
constexpr size_t kTwinPaths = 64; // paths compared at most

// Rows a path may drop at its start.
constexpr uint32_t kSkips = 3;
// Rows a stretch may end before the next one begins, where that one's
// row is not known.
constexpr uint32_t kTrimRows = 8;
// Rows on each side of a gap that tell how long the rows in it are.
constexpr uint32_t kSpanRows = 8;
constexpr size_t kSpanLeast = 3;
// Rows around a row that tell it is odd: fewer, in a picture whose rows
// vary, make good rows look odd.
constexpr size_t kOddLeast = 8;
// How far past its path's end a stretch may be followed by the next: in
// rows as long as the longest found.
constexpr uint64_t kGapRows = 16;
constexpr uint64_t kNever = UINT64_MAX / 4;
constexpr uint64_t kFallback = kNever / 2;
constexpr uint32_t kToEnd = UINT32_MAX;
// The first limit on what an explanation may cost: a break or two.
constexpr uint64_t kFirstLimit = 16;

// Where a stretch of rows may begin: row `skip` of a path.
struct Node {
    int32_t path;
    uint32_t skip;
    size_t offset;
    uint32_t rows; // from here to the path's end
    int64_t fixed; // the picture row it must be, or -1 for any
};

// A node taken as picture row `row`.
struct State {
    uint32_t node;
    uint32_t row;
    uint64_t forward = kNever;  // least cost from the first byte to here
    uint64_t backward = kNever; // least cost from here to the end
    uint32_t via = kToEnd;      // the edge that gives `forward`
};

// A state's rows, `kept` of them, then a gap to another state or the end.
struct Edge {
    uint32_t from;
    uint32_t to;
    uint32_t kept;
    uint64_t cost;
};

// How long rows near a gap are.
struct Span {
    uint64_t low = UINT64_MAX;
    uint64_t high = 0;
};

// Up to 2 * kSpanRows row lengths, in order.
class Lengths {
public:
    void Add(uint64_t length)
    {
        size_t place = count++;
        for (; place > 0 && values[place - 1] > length; --place)
            values[place] = values[place - 1];
        values[place] = length;
    }
    // Their range, less the longest and the shortest of four or more: one
    // of them may be a row of other bytes. Fewer than `least` say nothing
    // (an empty span).
    Span Range(size_t least = kSpanLeast) const
    {
        Span span;
        if (count < least)
            return span;
        const size_t trim = count >= 4 ? 1 : 0;
        span.low = values[trim];
        span.high = values[count - 1 - trim];
        return span;
    }

private:
    uint64_t values[2 * kSpanRows];
    size_t count = 0;
};

// How many bytes `gap` is off what `lost` rows as long as `span`'s take,
// give or take a byte, as an inserted or deleted one gives, and half the
// span's width each, as rows vary more than the few around them show.
// With `cut`, fewer bytes are not off: the data may end early.
uint64_t Off(uint64_t gap, uint64_t lost, const Span& span, bool cut)
{
    const uint64_t low = span.high == 0 ? 1 : span.low, high = span.high == 0 ? gap : span.high;
    const uint64_t slack = lost * (high - low) / 2 + 1;
    const uint64_t least = cut || lost * low < slack ? 0 : lost * low - slack;
    const uint64_t most = lost * high + slack;
    return gap < least ? least - gap : gap > most ? gap - most : 0;
}

// The cost of `gap` bytes holding `lost` rows: kNever when they are further
// off than an eighth of the longest row, which no damage we know explains.
// A gap between two stretches also costs kBreakWeight for each row in it
// that must be damaged: one where it holds one row, two where it holds
// more, as its first row and its last are then both damaged (an intact row
// before a path's first would have begun the path, one after its last would
// have gone on with it).
uint64_t GapCost(uint64_t gap, uint64_t lost, const Span& span, bool cut = false)
{
    if (lost == 0 && !cut)
        return gap == 0 ? 0 : kNever;
    const uint64_t off = Off(gap, lost, span, cut);
    if (off > std::max<uint64_t>(2, span.high / 8))
        return kNever;
    const uint64_t damaged = cut ? 0 : lost >= 2 ? 2 : 1;
    return off * kByteWeight + lost * kRowWeight + damaged * kBreakWeight;
}

class Placement {
public:
    Placement(PicPathSearch& pathSearch, uint32_t plainLimit)
        : search(pathSearch), height(pathSearch.Height()), plainEnd(plainLimit)
    {
    }

    void Solve();
    void Weigh();
    std::vector<uint32_t> WindowsToWiden() const;
    bool OpenAtOddRows() const;
    void Place(PicSalvagePlan& plan) const;

private:
    bool Twins(int32_t a, int32_t b) const;
    uint32_t MedianSeam(int32_t path) const;
    void FindBeside();
    void AddNodes();
    void MeasureRows();
    uint64_t Inside(int32_t path, uint32_t first, uint32_t count) const;
    uint32_t StateOf(uint32_t node, uint32_t row);
    void AddEdge(uint32_t from, uint32_t to, uint32_t kept, uint64_t cost);
    std::vector<Span> SpansAround(const Node& before, uint32_t least, uint32_t most,
                                  const Node* after) const;
    uint64_t Cost(uint32_t from, uint32_t to, uint32_t row, uint32_t kept,
                  const Span* span = nullptr) const;
    uint64_t EdgeCost(const Edge& edge, uint32_t kept) const;
    uint32_t Least(uint32_t from, bool known, uint32_t most) const;
    uint32_t MaxKept(const State& state, size_t offset) const;
    void ToNode(uint32_t from, uint32_t node);
    void ToEnd(uint32_t from);
    void Backward();
    void Guess();
    uint64_t Bound() const { return std::min({best, guess, limit}); }
    bool Beyond(uint64_t cost);
    uint32_t KeptAtMost(const Edge& edge) const;
    void Mark(std::vector<size_t>& rowAt, std::unordered_map<size_t, uint32_t>& offsetRow,
              std::vector<bool>& doubt) const;

    PicPathSearch& search;
    uint32_t height;
    uint32_t plainEnd;
    bool anchored = false;                 // some path ends exactly at the end of the data
    std::vector<Node> nodes;               // by offset
    std::vector<std::vector<uint32_t>> at; // each node's states
    std::vector<State> states;
    std::vector<Edge> edges;
    uint64_t best = kNever;
    uint32_t bestEdge = kToEnd;
    uint64_t guess = kNever;  // the cost of some explanation, known before the best
    uint64_t limit = kNever;  // explanations dearer are not followed (see Solve)
    uint64_t pruned = kNever; // the least cost the limit left out
    // Per path, over its own rows: how far their lengths are off those of
    // the rows around them in bytes, summed from its first row on.
    std::vector<std::vector<uint64_t>> odd;
    std::vector<bool> beside; // paths that run beside the file's own rows
    uint64_t longest = 1;     // the longest row of any path
};

// A row within a path costs its bytes off when its length is further off
// those of the rows around it than a gap may be: damage can leave a row
// that decodes, longer or shorter than it was, and the rows after it out
// of step.
void Placement::MeasureRows()
{
    const std::vector<PicRowPath>& paths = search.Paths();
    odd.resize(paths.size());
    for (int32_t path = 0; path < int32_t(paths.size()) && !search.Spent(); ++path) {
        const uint32_t rows = uint32_t(paths[size_t(path)].starts.size() - 1);
        // Its rows' lengths, and those of the rows it joins that are near.
        std::vector<uint64_t> lengths;
        size_t start = 0;
        for (uint32_t row = 0; row <= std::min(search.Rows(path), rows + kSpanRows); ++row) {
            const size_t next = search.RowStart(path, row);
            if (row != 0)
                lengths.push_back(next - start);
            start = next;
        }
        std::vector<uint64_t>& sums = odd[size_t(path)];
        sums.assign(rows + 1, 0);
        for (uint32_t row = 0; row < rows; ++row) {
            Lengths around;
            const uint32_t first = row > kSpanRows ? row - kSpanRows : 0;
            for (uint32_t other = first; other < lengths.size() && other <= row + kSpanRows;
                 ++other) {
                if (other != row)
                    around.Add(lengths[other]);
            }
            longest = std::max(longest, lengths[row]);
            const Span span = around.Range(kOddLeast);
            const uint64_t off = Off(lengths[row], 1, span, false);
            const bool damaged = off > std::max<uint64_t>(2, span.high / 8);
            sums[row + 1] = sums[row] + (damaged ? off * kByteWeight + kBreakWeight : 0);
        }
    }
}

uint64_t Placement::Inside(int32_t path, uint32_t first, uint32_t count) const
{
    uint64_t sum = 0;
    while (count > 0) {
        const PicRowPath& own = search.Paths()[size_t(path)];
        const uint32_t rows = uint32_t(own.starts.size() - 1);
        if (first < rows) {
            const uint32_t take = std::min(count, rows - first);
            sum += odd[size_t(path)][first + take] - odd[size_t(path)][first];
            first += take;
            count -= take;
        } else {
            first = first - rows + own.joinRow;
            path = own.joins;
        }
    }
    return sum;
}

// Whether paths `a` and `b`, which start apart, run beside each other for
// kSeamRows rows, every row beginning and ending with a literal.
bool Placement::Twins(int32_t a, int32_t b) const
{
    if (search.RowStart(a, 0) > search.RowStart(b, 0))
        std::swap(a, b);
    const size_t start = search.RowStart(b, 0);
    const uint32_t row = search.RowsWithin(a, 0, start);
    if (row + kSeamRows > search.Rows(a) || search.RowStart(a, row) == start)
        return false;
    const size_t apart = start - search.RowStart(a, row);
    for (uint32_t index = 0; index < kSeamRows; ++index) {
        const size_t offset = search.RowStart(b, index);
        if (offset - search.RowStart(a, row + index) != apart || !search.LiteralEdges(offset) ||
            !search.LiteralEdges(search.RowStart(a, row + index)))
            return false;
    }
    return true;
}

uint32_t Placement::MedianSeam(int32_t path) const
{
    // The seams between kSeamRows rows: one fewer.
    uint32_t seams[kSeamRows - 1];
    for (uint32_t row = 1; row < kSeamRows; ++row)
        seams[row - 1] = search.Seam(search.RowStart(path, row - 1), search.RowStart(path, row));
    uint32_t* const middle = seams + (kSeamRows - 1) / 2;
    std::nth_element(seams, middle, std::end(seams));
    return *middle;
}

// Which paths run beside the file's own rows (see kSeamRatio).
void Placement::FindBeside()
{
    const std::vector<PicRowPath>& paths = search.Paths();
    beside.assign(paths.size(), false);
    std::vector<int32_t> middle;
    for (int32_t path = 1; path < int32_t(paths.size()) && middle.size() < kTwinPaths; ++path) {
        if (!search.ReachesEnd(path) && search.Rows(path) >= kSeamRows)
            middle.push_back(path);
    }
    for (size_t first = 0; first < middle.size() && !search.Spent(); ++first) {
        for (size_t second = first + 1; second < middle.size(); ++second) {
            const int32_t a = middle[first], b = middle[second];
            if (!Twins(a, b))
                continue;
            const uint32_t seamA = MedianSeam(a), seamB = MedianSeam(b);
            if (seamB >= kSeamFloor && kSeamRatio * seamA <= seamB)
                beside[size_t(a)] = true;
            else if (seamA >= kSeamFloor && kSeamRatio * seamB <= seamA)
                beside[size_t(b)] = true;
        }
    }
}

void Placement::AddNodes()
{
    std::unordered_map<size_t, bool> taken;
    const std::vector<PicRowPath>& paths = search.Paths();
    FindBeside();
    for (int32_t path = 0; path < int32_t(paths.size()); ++path) {
        const uint32_t rows = search.Rows(path);
        const bool exact = search.ReachesEnd(path);
        anchored = anchored || exact;
        // The plain read's rows begin at row 0 and nowhere else.
        const uint32_t skips = path == 0 ? 0 : std::min(kSkips, rows - 1);
        if (beside[size_t(path)])
            continue;
        for (uint32_t skip = 0; skip <= skips; ++skip) {
            const size_t offset = search.RowStart(path, skip);
            const uint32_t left = rows - skip;
            if ((path != 0 && exact && left > height) || !taken.emplace(offset, true).second)
                continue;
            const int64_t fixed = path == 0 ? 0 : exact ? int64_t(height - left) : -1;
            nodes.push_back(Node{path, skip, offset, left, fixed});
        }
    }
    std::sort(nodes.begin(), nodes.end(),
              [](const Node& a, const Node& b) { return a.offset < b.offset; });
    at.resize(nodes.size());
}

uint32_t Placement::StateOf(uint32_t node, uint32_t row)
{
    for (const uint32_t state : at[node]) {
        if (states[state].row == row)
            return state;
    }
    at[node].push_back(uint32_t(states.size()));
    states.push_back(State{node, row});
    return at[node].back();
}

void Placement::AddEdge(uint32_t from, uint32_t to, uint32_t kept, uint64_t cost)
{
    const uint64_t total = states[from].forward + cost;
    edges.push_back(Edge{from, to, kept, cost});
    const uint32_t edge = uint32_t(edges.size() - 1);
    if (to == kToEnd) {
        if (total < best) {
            best = total;
            bestEdge = edge;
        }
    } else if (total < states[to].forward) {
        states[to].forward = total;
        states[to].via = edge;
    }
}

// How long the last kSpanRows rows `before` keeps and the first kSpanRows
// of `after` are, for each number of rows kept from `least` to `most`
// (spans[kept - least]): the rows are looked up once for all of them.
std::vector<Span> Placement::SpansAround(const Node& before, uint32_t least, uint32_t most,
                                         const Node* after) const
{
    const auto lengths = [&](int32_t path, uint32_t first, uint32_t end) {
        std::vector<uint64_t> found;
        size_t start = first < end ? search.RowStart(path, first) : 0;
        for (uint32_t row = first; row < end; ++row) {
            const size_t next = search.RowStart(path, row + 1);
            found.push_back(next - start);
            start = next;
        }
        return found;
    };
    const uint32_t first = least > kSpanRows ? least - kSpanRows : 0;
    const std::vector<uint64_t> kept =
        lengths(before.path, before.skip + first, before.skip + most);
    const std::vector<uint64_t> next =
        after != nullptr
            ? lengths(after->path, after->skip, after->skip + std::min(kSpanRows, after->rows))
            : std::vector<uint64_t>();
    std::vector<Span> spans;
    for (uint32_t count = least; count <= most; ++count) {
        Lengths around;
        for (uint32_t row = count > first + kSpanRows ? count - kSpanRows : first; row < count;
             ++row)
            around.Add(kept[row - first]);
        for (const uint64_t length : next)
            around.Add(length);
        spans.push_back(around.Range());
    }
    return spans;
}

// The cost of state `from` keeping `kept` rows, then node `to` as picture
// row `row` (or, for kToEnd, the end); `span`, when given, is their
// SpansAround.
uint64_t Placement::Cost(uint32_t from, uint32_t to, uint32_t row, uint32_t kept,
                         const Span* span) const
{
    const State& state = states[from];
    const Node& node = nodes[state.node];
    const size_t end = search.RowStart(node.path, node.skip + kept);
    const uint64_t next = uint64_t(state.row) + kept;
    const uint64_t inside = Inside(node.path, node.skip, kept);
    // The data's end, where no path ends exactly, may be cut short, but
    // still holds no more bytes than the rows lost after the last placed.
    if (to == kToEnd) {
        const uint64_t cost =
            GapCost(search.Size() - end, height - next,
                    span != nullptr ? *span : SpansAround(node, kept, kept, nullptr)[0], !anchored);
        return cost < kNever ? cost + inside : cost;
    }
    const Node& after = nodes[to];
    if (row < next)
        return kNever;
    const uint64_t cost =
        GapCost(after.offset - end, row - next,
                span != nullptr ? *span : SpansAround(node, kept, kept, &after)[0]);
    return cost < kNever ? cost + inside : cost;
}

uint64_t Placement::EdgeCost(const Edge& edge, uint32_t kept) const
{
    if (edge.to == kToEnd)
        return Cost(edge.from, kToEnd, 0, kept);
    return Cost(edge.from, states[edge.to].node, states[edge.to].row, kept);
}

// The fewest rows state `from` may keep before a node (or the end) when it
// could keep `most`: the plain read's rows from none, where the row after
// is `known`, since any of them may be where damage swallowed rows;
// another's, at least one and at most kTrimRows fewer, where it may have
// gone on out of step.
uint32_t Placement::Least(uint32_t from, bool known, uint32_t most) const
{
    if (from == 0 && known)
        return 0;
    const uint32_t least = from == 0 ? 0 : 1;
    return most < least + kTrimRows ? least : most - kTrimRows;
}

uint32_t Placement::MaxKept(const State& state, size_t offset) const
{
    const Node& node = nodes[state.node];
    const uint32_t rows = search.RowsWithin(node.path, node.skip, offset);
    return std::min(rows, height - state.row);
}

// Edges from state `from` to node `node`: for each row the node may be,
// the rows kept that cost least (the most of them among equals).
void Placement::ToNode(uint32_t from, uint32_t node)
{
    const Node& after = nodes[node];
    const State state = states[from];
    const Node& before = nodes[state.node];
    const uint32_t most = MaxKept(state, after.offset);
    // Where the node is a row of this path, keeping fewer rows and going on
    // from it only loses rows.
    if (search.RowStart(before.path, before.skip + most) == after.offset)
        return;
    const uint32_t least = Least(from, after.fixed >= 0, most);
    if (most < least || (after.fixed >= 0 && after.fixed < int64_t(state.row) + least))
        return;
    std::vector<std::pair<uint32_t, uint32_t>> rows; // (row, kept) tried
    const std::vector<Span> spans = SpansAround(before, least, most, &after);
    for (uint32_t kept = most + 1; kept-- > least && !search.Spent();) {
        const uint64_t next = uint64_t(state.row) + kept;
        const uint64_t gap = after.offset - search.RowStart(before.path, before.skip + kept);
        // No gap is the rows going on: the path itself, not a new stretch.
        if (gap == 0)
            continue;
        const Span& span = spans[kept - least];
        if (after.fixed >= 0) {
            rows.emplace_back(uint32_t(after.fixed), kept);
            continue;
        }
        const uint64_t middle = (span.low + span.high) / 2;
        const uint64_t near = std::max<uint64_t>(1, (gap + middle / 2) / middle);
        for (uint64_t lost = std::max<uint64_t>(1, near - 1); lost <= near + 1; ++lost) {
            if (next + lost < height)
                rows.emplace_back(uint32_t(next + lost), kept);
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (size_t index = 0; index < rows.size();) {
        const uint32_t row = rows[index].first;
        uint64_t cheapest = kNever;
        uint32_t kept = 0;
        for (; index < rows.size() && rows[index].first == row; ++index) {
            const uint64_t cost =
                Cost(from, node, row, rows[index].second, &spans[rows[index].second - least]);
            if (cost < cheapest || (cost == cheapest && rows[index].second > kept)) {
                cheapest = cost;
                kept = rows[index].second;
            }
        }
        // No explanation through a state dearer than the best one yet.
        if (cheapest < kNever && !Beyond(state.forward + cheapest))
            AddEdge(from, StateOf(node, row), kept, cheapest);
    }
}

void Placement::ToEnd(uint32_t from)
{
    const State& state = states[from];
    const Node& node = nodes[state.node];
    const uint32_t most = std::min(node.rows, height - state.row), least = Least(from, true, most);
    if (most < least)
        return;
    const std::vector<Span> spans = SpansAround(node, least, most, nullptr);
    uint64_t cheapest = kNever;
    uint32_t kept = most;
    for (uint32_t rows = most + 1; rows-- > least && !search.Spent();) {
        const uint64_t cost = Cost(from, kToEnd, 0, rows, &spans[rows - least]);
        if (cost < cheapest) {
            cheapest = cost;
            kept = rows;
        }
    }
    // The plain read's rows stay, however badly they account for the rest.
    if (from == 0 && cheapest >= kNever) {
        cheapest = kFallback;
        kept = std::min(node.rows, plainEnd);
    }
    if (cheapest < kNever)
        AddEdge(from, kToEnd, kept, cheapest);
}

// Weighs every explanation: from the plain read's rows, stretch by stretch
// in the order of the data, each state to the end and to the nodes up to
// kGapRows rows past its path's end; then the costs back from the end.
void Placement::Solve()
{
    AddNodes();
    MeasureRows();
    // Most explanations cost far more than the best, and are not followed
    // once it is known. Before, they are weighed under a limit, raised to
    // the least cost it left out until the best lies within it.
    for (limit = kFirstLimit; !search.Spent(); limit = std::max(limit + limit / 2, pruned)) {
        Weigh();
        if (best <= limit || pruned == kNever)
            break;
    }
    Backward();
}

void Placement::Weigh()
{
    for (std::vector<uint32_t>& nodeStates : at)
        nodeStates.clear();
    states.assign(1, State{0, 0});
    states[0].forward = 0;
    at[0].push_back(0);
    edges.clear();
    pruned = kNever;
    best = kNever;
    bestEdge = kToEnd;
    // The plain read's rows alone.
    ToEnd(0);
    if (guess == kNever)
        Guess();
    for (uint32_t node = 0; node < nodes.size() && !search.Spent(); ++node) {
        for (size_t index = 0; index < at[node].size() && !search.Spent(); ++index) {
            const uint32_t from = at[node][index];
            if (Beyond(states[from].forward))
                continue;
            if (from != 0)
                ToEnd(from);
            // A gap loses a row at least, and takes a damaged one.
            if (Beyond(states[from].forward + kRowWeight + kBreakWeight))
                continue;
            const Node& before = nodes[node];
            const size_t end = search.RowStart(before.path, before.skip + before.rows);
            const uint64_t reach = end + kGapRows * longest;
            for (uint32_t next = node + 1;
                 next < nodes.size() && nodes[next].offset <= reach && !search.Spent(); ++next)
                ToNode(from, next);
        }
    }
}

// The cost of the plain read's rows followed by one path to the end of the
// data: with it, explanations dearer are not followed far.
void Placement::Guess()
{
    for (uint32_t node = 1; node < nodes.size() && !search.Spent(); ++node) {
        if (nodes[node].fixed < 0)
            continue;
        const uint32_t row = uint32_t(nodes[node].fixed);
        const uint32_t most = std::min(MaxKept(states[0], nodes[node].offset), row);
        const std::vector<Span> spans = SpansAround(nodes[0], 0, most, &nodes[node]);
        for (uint32_t kept = 0; kept <= most && !search.Spent(); ++kept)
            guess = std::min(guess, Cost(0, node, row, kept, &spans[kept]));
    }
}

// Whether an explanation that costs `cost` so far is left out: dearer by
// more than kDoubt than the best known, or than the limit.
bool Placement::Beyond(uint64_t cost)
{
    const bool beyond = cost > Bound() + kDoubt;
    if (beyond && cost <= std::min(best, guess) + kDoubt)
        pruned = std::min(pruned, cost);
    return beyond;
}

void Placement::Backward()
{
    for (size_t index = edges.size(); index-- > 0;) {
        const Edge& edge = edges[index];
        const uint64_t after = edge.to == kToEnd ? 0 : states[edge.to].backward;
        if (after < kNever)
            states[edge.from].backward = std::min(states[edge.from].backward, edge.cost + after);
    }
}

// The most rows `edge`'s state keeps in an explanation within kDoubt of
// the best.
uint32_t Placement::KeptAtMost(const Edge& edge) const
{
    const State& state = states[edge.from];
    const uint64_t after = edge.to == kToEnd ? 0 : states[edge.to].backward;
    const uint64_t allowed = best + kDoubt - state.forward - after;
    const uint32_t most = edge.to == kToEnd ? std::min(nodes[state.node].rows, height - state.row)
                                            : MaxKept(state, nodes[states[edge.to].node].offset);
    for (uint32_t kept = most; kept > edge.kept; --kept) {
        if (EdgeCost(edge, kept) <= allowed)
            return kept;
    }
    return edge.kept;
}

// Every row that explanations within kDoubt of the best place, and where:
// `doubt` marks rows placed at two offsets or whose offset two place.
void Placement::Mark(std::vector<size_t>& rowAt, std::unordered_map<size_t, uint32_t>& offsetRow,
                     std::vector<bool>& doubt) const
{
    for (const Edge& edge : edges) {
        const State& state = states[edge.from];
        const uint64_t after = edge.to == kToEnd ? 0 : states[edge.to].backward;
        if (state.forward + edge.cost + after > best + kDoubt)
            continue;
        const Node& node = nodes[state.node];
        const uint32_t kept = KeptAtMost(edge);
        for (uint32_t index = 0; index < kept; ++index) {
            const uint32_t row = state.row + index;
            const size_t offset = search.RowStart(node.path, node.skip + index);
            if (rowAt[row] != offset && rowAt[row] != SIZE_MAX)
                doubt[row] = true;
            rowAt[row] = offset;
            const auto placed = offsetRow.emplace(offset, row);
            if (placed.first->second != row) {
                doubt[row] = true;
                doubt[placed.first->second] = true;
            }
        }
    }
}

std::vector<uint32_t> Placement::WindowsToWiden() const
{
    std::vector<uint32_t> widen;
    const std::vector<PicSearchWindow>& windows = search.Windows();
    for (const Edge& edge : edges) {
        const State& state = states[edge.from];
        const uint64_t after = edge.to == kToEnd ? 0 : states[edge.to].backward;
        const Node& node = nodes[state.node];
        if (node.path == 0 || state.forward + edge.cost + after > best + kDoubt)
            continue;
        // A row before it may start before its window: as far back as rows
        // near it are long.
        const uint32_t window = search.Paths()[size_t(node.path)].window;
        const size_t reach =
            2 * (search.RowStart(node.path, node.skip + 1) - search.RowStart(node.path, node.skip));
        if (node.offset - windows[window].from < reach)
            widen.push_back(window);
    }
    // A path whose break opened a window, but whose rows the best
    // explanation ends before it: the rows there may run out of step.
    for (uint32_t edge = bestEdge; edge != kToEnd; edge = states[edges[edge].from].via) {
        const State& state = states[edges[edge].from];
        const Node& node = nodes[state.node];
        const size_t end = search.RowStart(node.path, node.skip + edges[edge].kept);
        for (uint32_t window = 0; window < windows.size(); ++window) {
            if (windows[window].incoming == node.path && end < windows[window].from)
                widen.push_back(window);
        }
    }
    std::sort(widen.begin(), widen.end());
    widen.erase(std::unique(widen.begin(), widen.end()), widen.end());
    return widen;
}

// Windows at the rows of the best explanation whose lengths say they are
// damaged, where the rows after may have gone on out of step; true when
// one opens.
bool Placement::OpenAtOddRows() const
{
    bool opened = false;
    for (uint32_t edge = bestEdge; edge != kToEnd; edge = states[edges[edge].from].via) {
        const Node& node = nodes[states[edges[edge].from].node];
        for (uint32_t row = 0; row < edges[edge].kept; ++row) {
            if (Inside(node.path, node.skip + row, 1) != 0)
                opened = search.OpenAt(node.path, node.skip + row) || opened;
        }
    }
    return opened;
}

void Placement::Place(PicSalvagePlan& plan) const
{
    std::vector<size_t> rowAt(height, SIZE_MAX);
    std::unordered_map<size_t, uint32_t> offsetRow;
    std::vector<bool> doubt(height, false);
    Mark(rowAt, offsetRow, doubt);
    PicSalvage& salvage = plan.salvage;
    std::vector<PicSalvagedRows> placed; // the best explanation's rows, one by one, last first
    uint32_t plain = 0;
    for (uint32_t edge = bestEdge; edge != kToEnd; edge = states[edges[edge].from].via) {
        const State& state = states[edges[edge].from];
        const Node& node = nodes[state.node];
        for (uint32_t index = edges[edge].kept; index-- > 0;) {
            const uint32_t row = state.row + index;
            if (doubt[row])
                ++salvage.unplacedRows;
            else
                placed.push_back({row, 1, search.RowStart(node.path, node.skip + index)});
        }
        if (edges[edge].from == 0) {
            while (plain < edges[edge].kept && plain < plainEnd && !doubt[plain])
                ++plain;
        }
    }
    salvage.plainRows = plain;
    // The rest in runs, in row order.
    for (size_t index = placed.size(); index-- > 0;) {
        const PicSalvagedRows& rows = placed[index];
        if (rows.row < plain)
            continue;
        ++salvage.recoveredRows;
        PicSalvagedRows* last = plan.found.empty() ? nullptr : &plan.found.back();
        if (last != nullptr && last->row + last->count == rows.row)
            ++last->count;
        else
            plan.found.push_back(rows);
    }
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
                              uint32_t height, uint32_t firstLost)
{
    PicSalvagePlan plan;
    const uint64_t budget = kPicSalvageStepsPerByte * uint64_t(size) + kPicSalvageFixedSteps;
    PicPathSearch search(rows, size, packets, width, height, budget);
    search.Start();
    search.Explore();
    // Until a placement is weighed in full, the plain read's rows stand.
    plan.salvage.plainRows = firstLost;
    for (;;) {
        Placement placement(search, firstLost);
        placement.Solve();
        // Explanations left unweighed may put any row in doubt: the last
        // placement weighed in full stands.
        if (search.Spent())
            break;
        PicSalvagePlan weighed;
        placement.Place(weighed);
        plan = std::move(weighed);
        bool widened = placement.OpenAtOddRows();
        for (const uint32_t window : placement.WindowsToWiden())
            widened = search.Widen(window) || widened;
        if (!widened)
            break;
        search.Explore();
    }
    plan.salvage.searchStopped = search.Spent();
    plan.salvage.steps = search.Steps();
    plan.salvage.lostRows = PicLostRows(plan.found, plan.salvage.plainRows, height);
    return plan;
}
