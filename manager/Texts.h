// Texts as the manager shows and stores them.
//
// A task's texts are stored as UTF-8 in fields of TaskTextMax bytes. What the manager stores it
// cuts at a character boundary; what it shows may have been cut in the middle of a character by
// another writer, and such a tail shows as a replacement character.
//
//   StoredText(QString(150, u'a')).size();   // 100
//   ShownText("caf\xC3");                    // "caf\uFFFD"
#pragma once

#include "shared/ScheDef.h"

#include <QString>
#include <QStringList>
#include <string>
#include <string_view>

namespace tarvok {

// The longest prefix of at most `limit` bytes that ends at a character boundary.
std::string CutUtf8(std::string_view text, std::size_t limit);

QString ShownText(std::string_view stored);
std::string StoredText(const QString& text);

// The three lines describing a schedule, times in the user's long time format.
QStringList ScheduleLines(const TScheDef& schedule);

} // namespace tarvok
