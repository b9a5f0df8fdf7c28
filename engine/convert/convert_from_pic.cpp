// PIC files to other images: the file is read once and loaded by the codec
// into a frame, whose rows go one by one to the output format's writer.
#include <memory>

#include "engine/convert/convert_steps.h"
#include "engine/convert/failure_text.h"
#include "engine/convert/frame_output.h"
#include "engine/convert/premultiply.h"
#include "engine/convert/wide_rows.h"
#include "engine/formats/image_output.h"

namespace {

// The frame's rows to `sink`, which is started with `header`; the rows of a
// 16-bit picture (header.sixteenBit) widened by `wide`.
bool StreamFrame(Frame& frame, const ImageHeader& header, const WideRows& wide, bool unpremultiply,
                 RowSink& sink, std::string& error)
{
    if (!sink.Start(header, error))
        return false;
    std::vector<uint16_t> channels(size_t(header.width) * 4);
    for (uint32_t y = 0; y < header.height; ++y) {
        if (!frame.FetchRow(y, channels.data(), error))
            return false;
        if (header.sixteenBit)
            wide.Widen(channels.data(), header.width);
        if (unpremultiply && header.hasAlpha && header.sixteenBit)
            UnpremultiplyRow16(channels.data(), header.width);
        else if (unpremultiply && header.hasAlpha)
            UnpremultiplyRow(channels.data(), header.width);
        if (!sink.Row(channels.data(), error))
            return false;
    }
    return sink.Finish(error);
}

// "cannot create (...)", or "is a directory", as a format's writer says it.
std::string CreateFailureText(const std::string& path, int error)
{
    const std::string why = OutputFailureText(path, error);
    return why == "is a directory" ? why : "cannot create (" + why + ")";
}

// What the loaded file gives the output, and the outcome's account of it.
ImageHeader HeaderOf(const ConvertJob& job, const LoadedPicFile& file, FrameOutcome& outcome)
{
    const PicLoaded& loaded = file.loaded;
    ImageHeader header;
    header.width = loaded.frame->Width();
    header.height = loaded.frame->Height();
    header.hasAlpha = loaded.hasAlpha;
    header.haveAspect = AspectIsKnown(loaded.aspect);
    header.aspect = loaded.aspect;
    header.haveComment = !file.comment.empty();
    header.comment = file.comment;
    // --host-pixels writes the storage as loaded.
    header.sixteenBit = loaded.facts.Bits() == 16 && job.write.depth != SampleDepth::HostPixels;
    // Made before the write: a step that fails (out of memory) must not fail
    // a frame whose file has already replaced the earlier one.
    outcome.driverMs = loaded.driverMs;
    outcome.width = header.width;
    outcome.height = header.height;
    outcome.withAlpha = header.hasAlpha;
    outcome.haveOptions = loaded.haveOptions;
    outcome.options = loaded.options;
    outcome.compressed = loaded.haveOptions && loaded.options.rgbCompressed == 1;
    outcome.aspect = header.aspect;
    outcome.comment = header.comment;
    if (job.outputFormat->keepsMetadata && header.haveAspect)
        outcome.carried.push_back("aspect");
    if (job.outputFormat->keepsMetadata && header.haveComment)
        outcome.carried.push_back("comment");
    return header;
}

// The job's write settings, at the input's depth where none was asked for.
WriteSettings OutputSettings(const ConvertJob& job, const PicImageFacts& facts)
{
    WriteSettings write = job.write;
    if (write.depth == SampleDepth::Eight && !job.depthGiven && facts.Bits() == 16 &&
        job.outputFormat->sixteenBitOutput)
        write.depth = SampleDepth::Sixteen;
    return write;
}

} // namespace

FrameOutcome ConvertFrameFromPic(PicCodec& codec, const ConvertJob& job, const FrameTask& task,
                                 FrameProgress& progress)
{
    PicInput input;
    input.opened = input.bytes.Open(task.input);
    LoadedPicFile file;
    FrameOutcome outcome;
    if (!LoadPicFile(codec, job, task.input, progress, input, file, outcome))
        return outcome;
    const ImageHeader header = HeaderOf(job, file, outcome);
    NoteDamage(job, file.loaded.facts, task.input, outcome);

    // The writer writes the frame's output, which is committed after it;
    // formats that seek write a staging file on their way to standard output.
    const bool staged = task.output == "-" && job.outputFormat->namedFilesOnly;
    std::unique_ptr<StagingFile> staging;
    FrameOutput output;
    std::string error;
    if (staged) {
        staging = std::make_unique<StagingFile>("");
        if (!staging->Create(error))
            return FrameFailure(task.output, error);
        output.WriteUnder(staging->WriterName());
    } else if (const FrameOutput::Result opened = output.Open(task.output, job.noClobber);
               opened != FrameOutput::kReady) {
        return opened == FrameOutput::kSkipped
                   ? FrameSkipped()
                   : FrameFailure(task.output,
                                  CreateFailureText(task.output, output.SystemError()));
    }
    std::unique_ptr<RowSink> sink =
        job.outputFormat->newWriter(output.WriterName(), OutputSettings(job, file.loaded.facts));
    const WideRows wide(file.loaded.facts.packets);
    if (!StreamFrame(*file.loaded.frame, header, wide, job.unpremultiply, *sink, error))
        return FrameFailure(task.output, error);
    sink.reset();
    if (const FrameOutput::Result committed = output.Commit(); committed != FrameOutput::kReady)
        return OutputOutcome(committed, output.SystemError(), task, kResultSuccess);
    if (staged && !staging->CopyToStdout(error))
        return FrameFailure(task.output, error);
    outcome.ok = true;
    return outcome;
}
