// Which part and channels of an EXR file become the picture. A channel's
// layer is its name up to the last dot ("diffuse" of "diffuse.R",
// "ViewLayer.Combined" of "ViewLayer.Combined.R"; none for "R"). A layer
// has colour when it has R, G or B (RGB), or Y (grey, or luminance-chroma
// with RY and BY).
//
// The rule, where --part and --ch do not say: the first part, in the
// file's order, that has colour; in that part the unnamed layer (R, G, B,
// A) when it has colour, else the one layer that does. A part with colour
// in several layers and none unnamed is refused in words, naming them.
// --part takes a part's number (from 0) or name; --ch a layer's name, or
// 1 to 4 channel names separated by commas (grey, grey and alpha, RGB,
// RGBA), as oiiotool's --ch lists them.
#pragma once

#include <string>
#include <vector>

struct ExrChannel {
    std::string name;
    int xSampling = 1;
    int ySampling = 1;
};

struct ExrPart {
    std::string name; // empty when the file has none for it
    bool deep = false;
    std::vector<ExrChannel> channels;
};

enum class ExrColour { Rgb, Grey, LumaChroma };

struct ExrChoice {
    int part = 0;
    std::string layer; // without its dot; empty for the unnamed layer or a --ch list
    ExrColour colour = ExrColour::Rgb;
    // Red, green, blue, alpha (grey: Y first); empty where the file has
    // none (colour 0, or no alpha). Luminance-chroma: Y, RY, BY, A.
    std::string names[4];
    // What was left, for a warning each: other parts, other layers.
    std::vector<std::string> notes;
};

// False with a message when nothing is chosen.
bool ChooseExrChannels(const std::vector<ExrPart>& parts, const std::string& part,
                       const std::string& channels, ExrChoice& choice, std::string& error);
