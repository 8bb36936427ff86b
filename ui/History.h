// The chat history file: one per logged-in user, "History/<name>.txt" under
// the current directory, holding the history view as RTF.
#pragma once

#include <QByteArray>
#include <QString>

#include <string>

namespace quorvik {

namespace text {
inline constexpr const char* HistoryCannotCreate =
    "Не могу создать файл на диске для хранения истории";
} // namespace text

// The history file of a user name (cp1251). Raises HistoryCannotCreate for a
// name that would not be one file inside the folder ("", ".", "..", a '/' or
// a NUL), so no name can reach outside it.
QString HistoryPath(const std::string& userName);

// Reads an existing history file whole; raises the file system's error.
QByteArray ReadHistory(const QString& path);

// Creates the folder when missing and the file empty; raises HistoryCannotCreate.
void CreateEmptyHistory(const QString& path);

// Replaces the file's content through a temporary file beside it, so a failed
// or interrupted write leaves the previous history whole. Raises the file
// system's error.
void WriteHistory(const QString& path, const QByteArray& content);

} // namespace quorvik
