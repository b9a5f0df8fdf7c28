#include "tools/pictool/convert/progress_bar.h"

#include <cstdio>
#include <cstring>

namespace {

int Percent(long long done, long long total)
{
    if (total <= 0 || done >= total)
        return 100;
    if (done <= 0)
        return 0;
    return int(done * 100 / total);
}

} // namespace

std::string ProgressLine(int done, int frames, const std::string& label, int percent, int columns)
{
    const std::string count =
        frames > 1 ? std::to_string(done) + "/" + std::to_string(frames) + " " : "";
    char tail[8];
    std::snprintf(tail, sizeof tail, " %3d%%", percent < 0 ? 0 : percent > 100 ? 100 : percent);
    // One column short of the width, so that the cursor never wraps.
    const size_t room = columns > 1 ? size_t(columns - 1) : 1;
    if (count.size() + std::strlen(tail) > room) // too narrow for more
        return std::string(tail).substr(std::strlen(tail) > room ? std::strlen(tail) - room : 0);
    std::string name = label;
    const size_t fixed = count.size() + std::strlen(tail);
    if (fixed + name.size() > room) {
        const size_t keep = room > fixed + 3 ? room - fixed - 3 : 0;
        name = keep == 0 ? "" : "..." + name.substr(name.size() - keep);
    }
    return count + name + tail;
}

ProgressDisplay::ProgressDisplay(bool show, int frameCount) : enabled(show), frames(frameCount) {}

ProgressDisplay::~ProgressDisplay()
{
    const std::lock_guard<std::mutex> hold(lock);
    Clear();
}

void ProgressDisplay::Show(const std::string& frameLabel, int framePercent)
{
    if (!enabled)
        return;
    const std::lock_guard<std::mutex> hold(lock);
    label = frameLabel;
    percent = framePercent;
    Draw();
}

void ProgressDisplay::FrameDone()
{
    if (!enabled)
        return;
    const std::lock_guard<std::mutex> hold(lock);
    ++done;
    Draw();
}

void ProgressDisplay::Message(const std::string& line)
{
    const std::lock_guard<std::mutex> hold(lock);
    Clear();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    if (enabled && done < frames && !label.empty())
        Draw();
}

void ProgressDisplay::Draw()
{
    const std::string line = ProgressLine(done, frames, label, percent, TerminalColumns());
    if (line == drawn)
        return;
    // Spaces cover what a longer earlier line left; then back to the end.
    std::string text = "\r" + line;
    if (drawn.size() > line.size())
        text += std::string(drawn.size() - line.size(), ' ') + "\r" + line;
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    drawn = line;
}

void ProgressDisplay::Clear()
{
    if (drawn.empty())
        return;
    std::fprintf(stderr, "\r%s\r", std::string(drawn.size(), ' ').c_str());
    std::fflush(stderr);
    drawn.clear();
}

void ProgressWindow::Begin(const std::string& frameLabel)
{
    label = frameLabel;
    shownPercent = -1;
    if (window != nullptr)
        OnProgress(0, 1);
}

void ProgressWindow::OnProgress(long long doneAmount, long long total)
{
    // Redraw only when the figure changes: the loader reports every row.
    const int percent = Percent(doneAmount, total);
    if (percent == shownPercent)
        return;
    shownPercent = percent;
    display.Show(label, percent);
}
