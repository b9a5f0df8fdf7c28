#include "engine/convert/convert_summary.h"

#include "engine/support/json_writer.h"

namespace {

// What the frames add up to.
struct Totals {
    BMMRES status = kResultSuccess;
    std::string error;
    std::string firstDamage;
    std::vector<std::string> inputs, outputs, skipped, warnings;
    std::vector<JsonObject> failures, damaged;
    const FrameOutcome* last = nullptr; // the last frame written
    int frames = 0;
    double driverMs = 0.0;
    std::string damage = "null";
    std::string salvage; // the first damaged frame's, "null" for none; "" without salvage
};

JsonObject DamagedItem(bool sequence, const FrameTask& task, const FrameOutcome& outcome)
{
    JsonObject item;
    if (sequence)
        item.AddInteger("frame", task.frame);
    else
        item.AddJson("frame", "null");
    item.AddName("file", task.input);
    item.AddInteger("row", outcome.damageRow);
    item.AddInteger("offset", static_cast<long long>(outcome.damageOffset));
    item.AddText("reason", outcome.damageReason);
    if (!outcome.salvage.empty())
        item.AddJson("salvage", outcome.salvage);
    return item;
}

void AddFailure(bool sequence, const FrameTask& task, const FrameOutcome& outcome, Totals& totals)
{
    if (outcome.status != kResultSuccess)
        totals.status = outcome.status;
    if (totals.error.empty())
        totals.error = outcome.errorFile + ": " + outcome.error;
    JsonObject failure;
    if (sequence)
        failure.AddInteger("frame", task.frame);
    failure.AddName("file", outcome.errorFile);
    failure.AddInteger("status", outcome.status);
    failure.AddText("error", outcome.error);
    totals.failures.push_back(failure);
}

void AddFrame(bool sequence, const FrameTask& task, const FrameOutcome& outcome, Totals& totals)
{
    totals.inputs.push_back(task.input);
    for (const std::string& warning : outcome.warnings)
        totals.warnings.push_back(task.input + ": " + warning);
    totals.driverMs += outcome.driverMs;
    if (!outcome.salvage.empty() && totals.salvage.empty())
        totals.salvage = "null";
    if (outcome.damaged) {
        if (totals.damage == "null") {
            totals.damage = outcome.damage;
            if (!outcome.salvage.empty())
                totals.salvage = outcome.salvage;
        }
        if (totals.firstDamage.empty())
            totals.firstDamage = outcome.errorFile + ": " + outcome.error;
        totals.damaged.push_back(DamagedItem(sequence, task, outcome));
    }
    if (outcome.skipped) {
        totals.skipped.push_back(task.output);
    } else if (outcome.ok) {
        totals.outputs.push_back(task.output);
        totals.last = &outcome;
        ++totals.frames;
    } else {
        AddFailure(sequence, task, outcome, totals);
    }
}

// What the last frame written holds: its size, layout and metadata.
void AddLastFrame(const FrameOutcome* last, JsonObject& object)
{
    object.AddInteger("width", last ? last->width : 0);
    object.AddInteger("height", last ? last->height : 0);
    object.AddBool("alpha", last && last->withAlpha);
    object.AddBool("compressed", last && last->compressed);
}

void AddMetadata(const FrameOutcome* last, JsonObject& object)
{
    if (last == nullptr || AspectIsKnown(last->aspect))
        object.AddNumber("aspect", last ? double(last->aspect) : 1.0);
    else
        object.AddJson("aspect", "null");
    object.AddText("comment", last ? last->comment : "");
    object.AddTextList("carried", last ? last->carried : std::vector<std::string>{});
}

} // namespace

bool OutcomeFails(const FrameOutcome& outcome, const ConvertJob& job)
{
    return !outcome.ok || (outcome.damaged && !job.allowDamaged);
}

std::string ConvertSummaryJson(const ConvertRun& run)
{
    Totals totals;
    totals.error = run.runError;
    totals.skipped = run.skipped;
    for (size_t index = 0; index < run.outcomes.size(); ++index)
        AddFrame(run.sequence, run.tasks[index], run.outcomes[index], totals);
    // Missing inputs could not be opened, which the host reports as 2.
    if (run.missingFrames > 0 && totals.status == kResultSuccess)
        totals.status = kResultSystemError;
    if (totals.error.empty())
        totals.error = run.missingError;
    // A damaged input that fails the run has no error of its own.
    if (totals.error.empty() && run.failed)
        totals.error = totals.firstDamage;
    JsonObject object;
    object.AddInteger("status", totals.status);
    object.AddBool("ok", !run.failed);
    if (!totals.error.empty())
        object.AddText("error", totals.error);
    AddLastFrame(totals.last, object);
    object.AddNameList("inputs", totals.inputs);
    object.AddNameList("outputs", totals.outputs);
    object.AddNameList("skipped", totals.skipped);
    object.AddInteger("frames", totals.frames);
    object.AddObjectList("failures", totals.failures);
    object.AddText("missing", run.missing);
    object.AddInteger("missingFrames", static_cast<long long>(run.missingFrames));
    object.AddNumber("driverMs", totals.driverMs);
    object.AddJson("damage", totals.damage);
    object.AddObjectList("damaged", totals.damaged);
    if (!totals.salvage.empty())
        object.AddJson("salvage", totals.salvage);
    AddMetadata(totals.last, object);
    object.AddTextList("warnings", totals.warnings);
    return object.Text();
}
