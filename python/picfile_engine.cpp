#include "python/picfile_engine.h"

#include <pybind11/stl.h>

#include <string>

#include "engine/convert/check_record.h"
#include "engine/convert/convert_summary.h"
#include "engine/convert/library_codec.h"
#include "engine/formats/format_table.h"

namespace py = pybind11;

namespace {

// The archive's tasks show no progress of a frame: Python counts files.
class NoProgress : public FrameProgress {
public:
    void Begin(const std::string&) override {}
    void Step(long long, long long) override {}
};

// A name as the engine opens it: "-" is a file of that name to Python,
// where the engine would read standard input.
std::string EngineName(const std::string& path)
{
    SystemPath(path);
    return path == "-" ? "./-" : path;
}

// (the JSON line, whether the file is whole); with `salvage`, the rows
// after a run-length row that does not decode are looked for (a salvaged
// file is not whole).
py::tuple CheckLine(const std::string& path, const std::string& name, bool salvage)
{
    const std::string opened = EngineName(path);
    std::string line;
    bool whole = false;
    {
        py::gil_scoped_release released;
        const PicCheck check = CheckPicFile(opened, salvage);
        line = CheckJsonLine(name, check);
        whole = check.Whole();
    }
    return py::make_tuple(line, whole);
}

py::tuple CheckMemoryLine(const py::bytes& data, const std::string& name, bool salvage)
{
    const std::string_view bytes(data);
    std::string line;
    bool whole = false;
    {
        py::gil_scoped_release released;
        const PicCheck check =
            CheckPicBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0, salvage);
        line = CheckJsonLine(name, check);
        whole = check.Whole();
    }
    return py::make_tuple(line, whole);
}

const ImageFormat& OutputFormat(const std::string& word)
{
    const ImageFormat* format = OutputFormatOfWord(word);
    if (format == nullptr)
        throw py::value_error("the output format is " + OutputWords(false) + ", not '" + word +
                              "'");
    return *format;
}

// What pictool convert --json says of `input` converted to `output` in the
// format of the word `to`: (the JSON line, whether the run is ok). With
// `salvage` the input is read as convert --salvage reads it.
py::tuple ConvertLine(const std::string& input, const std::string& output, const std::string& to,
                      const std::string& compression, bool allowDamaged, bool salvage)
{
    ConvertJob job;
    job.outputFormat = &OutputFormat(to);
    job.toPic = job.outputFormat == &PicFormat();
    job.compressed = compression == "rle"   ? Switch::On
                     : compression == "raw" ? Switch::Off
                                            : Switch::Unset;
    job.allowDamaged = allowDamaged;
    job.salvage = salvage;
    ConvertRun run;
    run.tasks.push_back(FrameTask{kSingleFrame, EngineName(input), SystemPath(output)});
    std::string line;
    {
        py::gil_scoped_release released;
        LibraryPicCodec codec;
        NoProgress progress;
        run.outcomes.push_back(ConvertFrame(codec, job, run.tasks[0], progress));
        run.failed = OutcomeFails(run.outcomes[0], job);
        line = ConvertSummaryJson(run);
    }
    return py::make_tuple(line, !run.failed);
}

// The line of a task that never gave one (its worker lost, say): the
// system failed it, with `error` as its words.
std::string FailedLine(const std::string& kind, const std::string& input, const std::string& output,
                       const std::string& error)
{
    if (kind == "check") {
        PicCheck check;
        check.result = kResultSystemError;
        check.error = error;
        return CheckJsonLine(input, check);
    }
    ConvertRun run;
    run.tasks.push_back(FrameTask{kSingleFrame, input, output});
    run.outcomes.push_back(FrameFailure(input, error, kResultSystemError));
    run.failed = true;
    return ConvertSummaryJson(run);
}

} // namespace

const char* SystemPath(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        throw py::value_error("embedded null byte");
    return path.c_str();
}

void AddEngineFunctions(py::module_& module)
{
    module.def("check_line", &CheckLine, py::arg("path"), py::arg("name"),
               py::arg("salvage") = false);
    module.def("check_memory_line", &CheckMemoryLine, py::arg("data"), py::arg("name"),
               py::arg("salvage") = false);
    module.def("convert_line", &ConvertLine, py::arg("input"), py::arg("output"), py::arg("to"),
               py::arg("compression"), py::arg("allow_damaged"), py::arg("salvage") = false);
    module.def("failed_line", &FailedLine, py::arg("kind"), py::arg("input"), py::arg("output"),
               py::arg("error"));
    module.def(
        "output_format", [](const std::string& word) { return OutputFormat(word).name; },
        py::arg("word"));
    module.def("output_words", [] { return OutputWords(false); });
}
