// A frame's output file, opened and committed by the convert pipeline while
// a writer of its own writes the bytes: the plug-in's driver, or a format's
// writer, each of which opens files by name. The writer is handed a second
// name of a private temporary file beside the output, which it writes in
// place (as any file with two names); the pipeline then moves the file into
// place itself, so that --no-clobber keeps an output that appears while
// the frame is written, and an interrupt removes every name it made. "-"
// (standard output) is no file: the writer's own name is used as it is.
#pragma once

#include <string>

#include "output/atomic_output.h"

class FrameOutput {
public:
    enum Result { kReady, kSkipped, kFailed };

    // Opens the output `path`; with `keep`, an output that exists is left
    // as it is (kSkipped). kFailed with SystemError() saying why.
    Result Open(const std::string& path, bool keep);
    // For a file of the caller's own (a staging file): the writer writes
    // `name`, and Commit has nothing to do.
    void WriteUnder(const std::string& name);
    // The name the writer writes; Open's `path` where nothing of ours stands
    // between (standard output, a device, a file written in place).
    const std::string& WriterName() const { return writerName; }
    // Once the writer succeeded: the file moved into place. kSkipped when an
    // output of that name came meanwhile and `keep` keeps it; kFailed with
    // SystemError() saying why.
    Result Commit();
    // The errno of the last kFailed.
    int SystemError() const { return failure; }

private:
    AtomicOutput output;
    std::string writerName;
    bool ownName = false; // standard output, or WriteUnder's name
    bool keep = false;
    int failure = 0;
};

// The line --no-clobber prints for an output left as it was.
std::string SkippedText(const std::string& output);
// Why the output `path` could not be made, as the system says it ("is a
// directory" for a folder, whatever the system answered).
std::string OutputFailureText(const std::string& path, int error);
