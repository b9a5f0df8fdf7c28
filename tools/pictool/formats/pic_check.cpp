#include "tools/pictool/formats/pic_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "pic/byte_source.h"
#include "tools/pictool/support/json_writer.h"

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

} // namespace

PicFileCheck CheckPicFile(const std::string& path)
{
    PicFileCheck check;
    errno = 0;
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        check.result = kResultSystemError;
        check.openError = errno != 0 ? std::strerror(errno) : "cannot open";
        return check;
    }
    PicByteSource source(file.get());
    PicHeader header;
    if (ReadPicHeader(source, header, check.packets) != PicHeaderStatus::Read) {
        check.result = kResultBadHeader;
        return check;
    }
    check.width = header.Width();
    check.height = header.Height();
    check.rows = CheckPicRows(source, check.packets, check.width, check.height);
    check.readFailed = source.ReadFailed();
    return check;
}

std::string DamageJson(const PicFileCheck& check)
{
    if (!check.rows.damaged)
        return "null";
    JsonObject damage;
    damage.AddInteger("row", check.rows.damage.row);
    damage.AddInteger("offset", static_cast<long long>(check.rows.damage.offset));
    damage.AddText("reason", PicRowStatusText(check.rows.damage.reason));
    return damage.Text();
}

std::string DamageText(const PicFileCheck& check)
{
    return std::string(PicRowStatusText(check.rows.damage.reason)) + " in row " +
           std::to_string(check.rows.damage.row) + " of " + std::to_string(check.height) +
           " (offset " + std::to_string(check.rows.damage.offset) + ")";
}
