#include "manager/Texts.h"

#include "platform/Clock.h"
#include "shared/TaskDef.h"

#include <vector>

namespace tarvok {

namespace {

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

std::string CutUtf8(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return std::string(text);
    }
    std::size_t cut = limit;
    // The first byte left out continues a character: leave out its start too.
    while (cut > 0 && IsContinuationByte(text[cut])) {
        --cut;
    }
    return std::string(text.substr(0, cut));
}

QString ShownText(std::string_view stored) {
    return QString::fromUtf8(stored.data(), static_cast<qsizetype>(stored.size()));
}

std::string StoredText(const QString& text) {
    return CutUtf8(text.toStdString(), TaskTextMax);
}

QStringList ScheduleLines(const TScheDef& schedule) {
    std::vector<std::string> lines;
    DescribeSchedule(schedule, lines, platform::LongTimeFormat());
    QStringList shown;
    for (const std::string& line : lines) {
        shown << ShownText(line);
    }
    return shown;
}

} // namespace tarvok
