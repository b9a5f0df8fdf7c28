// `pictool convert --help`: what the command does, its formats, and its
// options, whose blocks come from the option table.
#include "engine/formats/format_table.h"
#include "host/host_api.h"
#include "tools/pictool/commands/convert_options.h"

namespace {

// What the command does, and its formats.
std::string AboutConvert()
{
    return "Usage: pictool convert [OPTIONS] IN OUT\n"
           "\n"
           "OUT's extension (or --to) says which way: .pic writes IN, an image or a PIC\n"
           "file, as a PIC file; any other reads IN as a PIC file and writes that\n"
           "image. IN's format is told by its content, not its name, and IN is read\n"
           "once. All PIC work is done by drivers the plug-in makes: LoadImage to\n"
           "read (from the bytes read, in memory), OpenForWrite and WriteFrame to\n"
           "write, drivers of its own for each frame.\n"
           "\n"
           "Names. IN may be '-' (standard input), /dev/stdin, a pipe or a FIFO; OUT\n"
           "may be '-'. PIC inputs and outputs may have any path the system takes: the\n"
           "driver is handed a shorter name of the same file where the system has one\n"
           "(where it has none, a PIC name must fit the host's " +
           std::to_string(kMaxPathLength - 1) +
           "-byte name field, or\n"
           "that frame fails).\n"
           "\n"
           "Outputs are written where \"wb\" would write them, the system deciding, under\n"
           "a private temporary name beside them, and take their names when whole (an\n"
           "earlier file keeps its mode, owner and attributes, and is never left half\n"
           "written); Ctrl-C removes every temporary file.\n"
           "\n"
           "Formats of this pictool (name, extensions, what is read and written):\n" +
           FormatHelpLines() +
           "\n"
           "Samples. PIC files are written with 8 bits a channel and read with 8 or\n"
           "16. 8-bit samples are carried exactly both ways. 16-bit samples of other\n"
           "images are rounded to 8 bits; --depth 16 writes each 8-bit value times\n"
           "257. Float samples (EXR, TIFF) become round(v * 255) after clamping v to\n"
           "[0, 1]; PIC to EXR writes value / 255 as half floats. No colour transform\n"
           "is applied either way: no sRGB or linear conversion, no gamma. Grey\n"
           "becomes RGB. JPEG output is lossy.\n"
           "\n"
           "Alpha. PIC alpha is carried byte for byte: a premultiplied render stays\n"
           "premultiplied (and may show dark edges where viewers expect straight\n"
           "alpha). TIFF output labels it associated, or unassociated after\n"
           "--unpremult; a TIFF's alpha is read as stored, labelled either way.\n"
           "\n"
           "Metadata. The pixel aspect ratio and the comment travel between PIC and\n"
           "the formats that hold them (PNG pHYs and tEXt Comment, TIFF X/Y\n"
           "resolution and ImageDescription, EXR pixelAspectRatio and comments, JPEG\n"
           "JFIF density and COM). The driver's \"Created with ...:\" prefix stays\n"
           "behind, so PIC -> PNG -> PIC gives the same comment.\n";
}

} // namespace

std::string ConvertHelp()
{
    return AboutConvert() +
           "\n"
           "Writing PIC (without these, what IN has; from an image without them,\n"
           "the driver's defaults: RLE on, empty comment, aspect 1):\n" +
           ConvertOptionsHelp("Writing PIC") +
           "  An image without alpha written with alpha gets alpha 255 (opaque).\n"
           "\n"
           "Reading images (writing PIC):\n" +
           ConvertOptionsHelp("Reading images") +
           "\n"
           "Reading PIC:\n"
           "  Outputs carry the file's own values: RGB when the PIC has no alpha,\n"
           "  RGBA when it has (JPEG: RGB only). A 16-bit PIC file's values are kept\n"
           "  whole: PNG, TIFF and PAM at 16 bits, EXR as 32-bit float; JPEG, PIC\n"
           "  and --depth 8 outputs get them rounded, round(v * 255 / 65535).\n" +
           ConvertOptionsHelp("Reading PIC") +
           "  A damaged PIC file (cut short, or a run-length row that does not decode)\n"
           "  is written as the driver loads it (run-length rows stop at the damage and\n"
           "  the rest stay 0; raw bytes past the end read 255), with one warning line\n"
           "  naming the file, the first damaged row and the reason (and with\n"
           "  --salvage what was found again), and exit status 1 unless\n"
           "  --allow-damaged.\n"
           "\n"
           "Sequences:\n" +
           ConvertOptionsHelp("Sequences") +
           "\n"
           "Other options:\n" +
           ConvertOptionsHelp("Other options") +
           "\n"
           "'%' in names. Without --frames IN and OUT name one file each: a name\n"
           "holding %d, %Nd or %0Nd is refused lest a pattern be taken for a file;\n"
           "write %% for its '%' (100%%d.pic names 100%d.pic), or give the names\n"
           "after '--', where they are taken as they are. A lone '%' is itself, and\n"
           "'#' and '@' are plain characters.\n"
           "\n"
           "'-' as IN reads standard input, its format told by its content; as OUT it\n"
           "writes standard output in the format --to names.\n"
           "\n"
           "When stderr is a terminal, one progress line is redrawn in place: frames\n"
           "done of all, the current frame and its percentage.\n"
           "\n"
           "Exit status: 0 success; 1 an image failed (one line on stderr each, naming\n"
           "the file and what happened), a frame is missing, a PIC input is damaged\n"
           "(without --allow-damaged) or standard output cannot be written; 2 usage\n"
           "error, including an options file that is not a 96-byte block.\n";
}
