#include "ui/History.h"

#include "link/Cp1251.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace quorvik {

namespace {

constexpr const char* Folder = "History";

// The file system's reason, after the file it concerns.
[[noreturn]] void Fail(const QString& path, const QString& reason) {
    throw std::runtime_error(QStringLiteral("%1: %2").arg(path, reason).toStdString());
}

// The folder may be missing on the first run; returns the failure, if any.
std::error_code MakeFolder(const QString& path) {
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(QFileInfo(path).path()).toStdString(),
                                        error);
    return error;
}

} // namespace

QString HistoryPath(const std::string& userName) {
    const QString name = QString::fromStdString(Cp1251ToUtf8(userName));
    if (name.isEmpty() || name == "." || name == ".." || name.contains('/') ||
        name.contains(QChar(0)))
        throw std::runtime_error(text::HistoryCannotCreate);
    return QString(Folder) + '/' + name + ".txt";
}

QByteArray ReadHistory(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Fail(path, file.errorString());
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        Fail(path, file.errorString());
    return content;
}

void CreateEmptyHistory(const QString& path) {
    QFile file(path);
    if (MakeFolder(path) || !file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw std::runtime_error(text::HistoryCannotCreate);
}

void WriteHistory(const QString& path, const QByteArray& content) {
    QSaveFile file(path);
    if (const std::error_code error = MakeFolder(path))
        Fail(QFileInfo(path).path(), QString::fromStdString(error.message()));
    // flush() before commit(): a short write met only while committing is not
    // always reported by commit() itself.
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.flush() || !file.commit())
        Fail(path, file.errorString());
}

} // namespace quorvik
