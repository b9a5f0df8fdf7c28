#include "engine/convert/failure_text.h"

#include "engine/formats/format_table.h"
#include "engine/support/json_writer.h"
#include "engine/support/system_error_text.h"

std::string NotPicText(const uint8_t* head, size_t count, bool loading)
{
    const ImageFormat* format = FormatOfHead(head, count);
    if (format == nullptr || format == &PicFormat())
        return PicHeaderStatusText(PicHeaderStatus::BadMagic);
    if (loading)
        return "input is " + NameWithArticle(*format) + "; the output must be .pic";
    return "not a PIC file (" + NameWithArticle(*format) + " image)";
}

std::string PicFactsFailureText(const PicImageFacts& facts, const uint8_t* head, size_t count)
{
    if (facts.status == PicImageStatus::BadHeader &&
        facts.headerStatus == PicHeaderStatus::BadMagic)
        return NotPicText(head, count, false);
    return PicStatusText(facts);
}

std::string PicLoadFailureText(const PicInput& input, const PicImageFacts& facts)
{
    if (input.headerStatus == PicHeaderStatus::BadMagic)
        return NotPicText(input.bytes.Data(), input.bytes.Size(), true);
    if (!input.HeaderRead())
        return PicHeaderStatusText(input.headerStatus);
    if (facts.status != PicImageStatus::Ok)
        return PicStatusText(facts);
    return "not a PIC file (its header is not understood)";
}

std::string PicInputFailureText(const PicInput& input)
{
    return SystemErrorText(input.bytes.Error());
}

std::string PicDamageJson(const PicImageFacts& facts)
{
    if (!facts.rows.damaged)
        return "null";
    JsonObject damage;
    damage.AddInteger("row", facts.rows.damage.row);
    damage.AddInteger("offset", static_cast<long long>(facts.rows.damage.offset));
    damage.AddText("reason", PicRowStatusText(facts.rows.damage.reason));
    return damage.Text();
}

std::string PicSalvageJson(const PicImageFacts& facts)
{
    if (!facts.salvaged)
        return "null";
    std::string lost = "[";
    for (const PicRowRange& range : facts.salvage.lostRows) {
        lost += (lost.size() > 1 ? ",[" : "[") + std::to_string(range.first) + "," +
                std::to_string(range.last) + "]";
    }
    JsonObject salvage;
    salvage.AddJson("lostRows", lost + "]");
    salvage.AddInteger("recoveredRows", facts.salvage.recoveredRows);
    return salvage.Text();
}

BMMRES PicCheckResult(const PicImageFacts& facts)
{
    switch (facts.status) {
    case PicImageStatus::Ok:
        return kResultSuccess;
    case PicImageStatus::CannotOpen:
        return kResultSystemError;
    case PicImageStatus::NoMemory:
        return kResultNoMemory;
    default:
        return kResultBadHeader;
    }
}
