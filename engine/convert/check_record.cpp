#include "engine/convert/check_record.h"

#include <new>

#include "engine/convert/failure_text.h"
#include "engine/convert/pic_input.h"
#include "engine/support/json_writer.h"

PicCheck CheckPicFile(const std::string& path, bool salvage)
{
    PicCheck check;
    try {
        PicInput input;
        uint64_t trailing = 0;
        if (!ReadPicInput(path, kPicNoPixelLimit, input, trailing)) {
            check.result = PicInputFailureResult(input);
            check.error = PicInputFailureText(input);
            return check;
        }
        return CheckPicBytes(input.bytes.Data(), input.bytes.Size(), trailing, salvage);
    } catch (const std::bad_alloc&) {
        check.facts.status = PicImageStatus::NoMemory;
        check.result = kResultNoMemory;
        check.error = PicStatusText(check.facts);
    }
    return check;
}

PicCheck CheckPicBytes(const uint8_t* data, size_t size, uint64_t trailing, bool salvage)
{
    PicCheck check;
    PicReadRequest request;
    request.decode = false;
    request.salvage = salvage;
    check.salvageAsked = salvage;
    check.facts = ReadPicImageMemory(data, size, request).facts;
    // Bytes past what the picture can need were counted, not kept; like
    // those kept, they count where no row is damaged.
    if (!check.facts.rows.damaged)
        check.facts.rows.trailingBytes += trailing;
    check.result = PicCheckResult(check.facts);
    if (check.facts.status != PicImageStatus::Ok)
        check.error = PicFactsFailureText(check.facts, data, size);
    return check;
}

std::string CheckJsonLine(const std::string& file, const PicCheck& check)
{
    const PicImageFacts& facts = check.facts;
    JsonObject object;
    object.AddName("file", file);
    object.AddInteger("result", check.result);
    if (!check.error.empty()) {
        object.AddText("error", check.error);
        return object.Text();
    }
    object.AddInteger("width", facts.width);
    object.AddInteger("height", facts.height);
    std::vector<JsonObject> packets;
    for (const PicChannelPacket& packet : facts.packets) {
        JsonObject item;
        item.AddInteger("type", packet.type);
        item.AddInteger("mask", packet.channel);
        packets.push_back(item);
    }
    object.AddObjectList("packets", packets);
    object.AddInteger("bits", facts.Bits());
    object.AddInteger("rowsComplete", facts.rows.rowsComplete);
    object.AddJson("damage", PicDamageJson(facts));
    object.AddInteger("trailingBytes", static_cast<long long>(facts.rows.trailingBytes));
    if (check.salvageAsked)
        object.AddJson("salvage", PicSalvageJson(facts));
    return object.Text();
}

std::string CheckTextLine(const std::string& file, const PicCheck& check)
{
    const PicImageFacts& facts = check.facts;
    if (!check.error.empty())
        return file + ": " + check.error;
    std::string line = file + ": " + std::to_string(facts.width) + " x " +
                       std::to_string(facts.height) + ", " + std::to_string(facts.Bits()) +
                       "-bit, " + PicPacketsText(facts.packets) + ": " +
                       (facts.rows.damaged ? PicDamageText(facts) : "ok");
    if (facts.salvaged)
        line += "; salvaged: " + PicSalvageText(facts);
    if (facts.rows.trailingBytes != 0)
        line += " (" + std::to_string(facts.rows.trailingBytes) + " bytes after the last row)";
    return line;
}
