#include "engine/formats/exr_channels.h"

#include <algorithm>

namespace {

// Lists of names in messages stop after a few.
constexpr size_t kNamesShown = 6;

std::string LayerOf(const std::string& channel)
{
    const size_t dot = channel.rfind('.');
    return dot == std::string::npos ? std::string() : channel.substr(0, dot);
}

std::string Prefix(const std::string& layer)
{
    return layer.empty() ? layer : layer + ".";
}

bool Has(const ExrPart& part, const std::string& name)
{
    for (const ExrChannel& channel : part.channels)
        if (channel.name == name)
            return true;
    return false;
}

bool HasColour(const ExrPart& part, const std::string& layer)
{
    const std::string prefix = Prefix(layer);
    for (const char* base : {"R", "G", "B", "Y"})
        if (Has(part, prefix + base))
            return true;
    return false;
}

// The layers of a part in the order their first channels come.
std::vector<std::string> Layers(const ExrPart& part)
{
    std::vector<std::string> layers;
    for (const ExrChannel& channel : part.channels) {
        const std::string layer = LayerOf(channel.name);
        if (std::find(layers.begin(), layers.end(), layer) == layers.end())
            layers.push_back(layer);
    }
    return layers;
}

// "a, b, c" or "a, b, c, ... (9 in all)"
std::string NameList(const std::vector<std::string>& names)
{
    std::string text;
    for (size_t index = 0; index < names.size() && index < kNamesShown; ++index)
        text += (index > 0 ? ", " : "") + names[index];
    if (names.size() > kNamesShown)
        text += ", ... (" + std::to_string(names.size()) + " in all)";
    return text;
}

std::string PartLabel(const std::vector<ExrPart>& parts, int index)
{
    const std::string& name = parts[size_t(index)].name;
    return "part " + std::to_string(index) + (name.empty() ? "" : " (" + name + ")");
}

// The channels of `layer`, which has colour.
void ChooseLayer(const ExrPart& part, const std::string& layer, ExrChoice& choice)
{
    const std::string prefix = Prefix(layer);
    const auto named = [&](const char* base) {
        return Has(part, prefix + base) ? prefix + base : std::string();
    };
    choice.layer = layer;
    choice.names[3] = named("A");
    if (Has(part, prefix + "R") || Has(part, prefix + "G") || Has(part, prefix + "B")) {
        choice.colour = ExrColour::Rgb;
        choice.names[0] = named("R");
        choice.names[1] = named("G");
        choice.names[2] = named("B");
    } else {
        choice.names[0] = named("Y");
        choice.names[1] = named("RY");
        choice.names[2] = named("BY");
        const bool chroma = !choice.names[1].empty() && !choice.names[2].empty();
        choice.colour = chroma ? ExrColour::LumaChroma : ExrColour::Grey;
        if (!chroma)
            choice.names[1] = choice.names[2] = std::string();
    }
}

// The layer the rule picks in `part`: 1 when found, 0 when the part has no
// colour, -1 (with a message) when several layers have it.
int RuleLayer(const std::vector<ExrPart>& parts, int index, std::string& layer, std::string& error)
{
    const ExrPart& part = parts[size_t(index)];
    if (HasColour(part, "")) {
        layer.clear();
        return 1;
    }
    std::vector<std::string> coloured;
    for (const std::string& candidate : Layers(part))
        if (HasColour(part, candidate))
            coloured.push_back(candidate);
    if (coloured.size() == 1)
        layer = coloured[0];
    if (coloured.size() <= 1)
        return int(coloured.size());
    error = "EXR " + PartLabel(parts, index) + " has colour in " + std::to_string(coloured.size()) +
            " layers (" + NameList(coloured) + "): pick one with --ch, such as --ch " + coloured[0];
    return -1;
}

bool SplitNames(const std::string& list, std::vector<std::string>& names, std::string& error)
{
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        names.push_back(list.substr(start, comma - start));
        if (names.back().empty() || names.size() > 4) {
            error = "--ch takes a layer, or 1 to 4 channel names separated by commas, not '" +
                    list + "'";
            return false;
        }
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

// --ch in `part`: 1 when it names what the part has, 0 when it does not.
int ChooseNamed(const ExrPart& part, const std::string& channels, ExrChoice& choice,
                std::string& error)
{
    if (channels.find(',') == std::string::npos && !Has(part, channels)) {
        if (!HasColour(part, channels))
            return 0;
        ChooseLayer(part, channels, choice);
        return 1;
    }
    std::vector<std::string> names;
    if (!SplitNames(channels, names, error))
        return -1;
    for (const std::string& name : names)
        if (!Has(part, name))
            return 0;
    // 1 grey; 2 grey and alpha; 3 RGB; 4 RGBA
    choice.colour = names.size() <= 2 ? ExrColour::Grey : ExrColour::Rgb;
    choice.names[0] = names[0];
    choice.names[1] = names.size() >= 3 ? names[1] : std::string();
    choice.names[2] = names.size() >= 3 ? names[2] : std::string();
    choice.names[3] = names.size() % 2 == 0 ? names.back() : std::string();
    return 1;
}

// The parts --part allows: one, or all.
bool CandidateParts(const std::vector<ExrPart>& parts, const std::string& part,
                    std::vector<int>& candidates, std::string& error)
{
    if (part.empty()) {
        for (size_t index = 0; index < parts.size(); ++index)
            candidates.push_back(int(index));
        return true;
    }
    const bool number =
        part.size() <= 9 && part.find_first_not_of("0123456789") == std::string::npos;
    for (size_t index = 0; index < parts.size(); ++index)
        if ((number && std::stoul(part) == index) || (!number && parts[index].name == part))
            candidates.push_back(int(index));
    if (!candidates.empty())
        return true;
    std::vector<std::string> names;
    for (size_t index = 0; index < parts.size(); ++index)
        names.push_back(PartLabel(parts, int(index)));
    error = "EXR has no part " + part + " (it has " + NameList(names) + ")";
    return false;
}

void NoteWhatWasLeft(const std::vector<ExrPart>& parts, const std::string& part,
                     const std::string& channels, ExrChoice& choice)
{
    if (part.empty() && parts.size() > 1) {
        std::vector<std::string> left;
        for (size_t index = 0; index < parts.size(); ++index)
            if (int(index) != choice.part)
                left.push_back(std::to_string(index));
        choice.notes.push_back("read " + PartLabel(parts, choice.part) + "; left part" +
                               (left.size() > 1 ? "s " : " ") + NameList(left) +
                               " (--part picks another)");
    }
    if (!channels.empty())
        return;
    std::vector<std::string> left;
    for (const std::string& layer : Layers(parts[size_t(choice.part)]))
        if (layer != choice.layer && !layer.empty())
            left.push_back(layer);
    if (!left.empty())
        choice.notes.push_back(
            std::string("read ") +
            (choice.layer.empty() ? "the unnamed layer" : "layer " + choice.layer) +
            "; left layer" + (left.size() > 1 ? "s " : " ") + NameList(left) +
            " (--ch picks another)");
}

} // namespace

bool ChooseExrChannels(const std::vector<ExrPart>& parts, const std::string& part,
                       const std::string& channels, ExrChoice& choice, std::string& error)
{
    std::vector<int> candidates;
    if (!CandidateParts(parts, part, candidates, error))
        return false;
    for (const int index : candidates) {
        const ExrPart& candidate = parts[size_t(index)];
        if (candidate.deep) {
            if (!part.empty()) {
                error = "EXR " + PartLabel(parts, index) + " holds deep data, which is not read";
                return false;
            }
            continue;
        }
        choice = ExrChoice{};
        choice.part = index;
        int found = 0;
        if (!channels.empty()) {
            found = ChooseNamed(candidate, channels, choice, error);
        } else {
            std::string layer;
            found = RuleLayer(parts, index, layer, error);
            if (found == 1)
                ChooseLayer(candidate, layer, choice);
        }
        if (found < 0)
            return false;
        if (found == 1) {
            NoteWhatWasLeft(parts, part, channels, choice);
            return true;
        }
    }
    const std::string where = candidates.size() == 1 && parts.size() > 1
                                  ? " in " + PartLabel(parts, candidates[0])
                                  : std::string();
    if (!channels.empty())
        error = "EXR has no layer or channels " + channels + where;
    else
        error = "EXR has no R, G, B or Y channel" + where + ", in any layer";
    return false;
}
