// Loading and saving a chat history of some 10 MB of rich text, against Qt's
// own HTML import and export of the same document in the same run.
#include "ui/Rtf.h"

#include <QColor>
#include <QGuiApplication>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Chat lines as the chat window leaves them: each a name and time in one
// look and the text in another, colours, sizes, faces and styles mixed.
void AddLines(QTextDocument& document, int count, std::mt19937& rng) {
    static const QColor colours[] = {QColor(128, 0, 0), Qt::black, Qt::blue,
                                     QColor(0, 128, 0), Qt::red,   QColor(128, 0, 128)};
    static const int sizes[] = {8, 10, 12, 14, 18};
    static const char* faces[] = {"Arial", "Times New Roman", "Courier New", "Tahoma"};
    static const QString words[] = {QStringLiteral("привет"),      QStringLiteral("как"),
                                    QStringLiteral("дела"),        QStringLiteral("line"),
                                    QStringLiteral("порт"),        QStringLiteral("COM1"),
                                    QStringLiteral("сообщение"),   QStringLiteral("{braces}"),
                                    QStringLiteral("back\\slash"), QStringLiteral("ёЁ№")};
    QTextCursor cursor(&document);
    cursor.movePosition(QTextCursor::End);
    for (int i = 0; i < count; ++i) {
        if (!document.isEmpty())
            cursor.insertBlock();
        for (int run = 0; run < 2; ++run) {
            QTextCharFormat format;
            format.setForeground(colours[rng() % std::size(colours)]);
            format.setFontPointSize(sizes[rng() % std::size(sizes)]);
            format.setFontFamilies({QString::fromLatin1(faces[rng() % std::size(faces)])});
            format.setFontWeight(rng() % 3 == 0 ? QFont::Bold : QFont::Normal);
            format.setFontItalic(rng() % 4 == 0);
            format.setFontUnderline(rng() % 6 == 0);
            QString text;
            if (run == 0) {
                text = QStringLiteral("Алиса:[%1:%2:%3] ")
                           .arg(rng() % 24)
                           .arg(rng() % 60, 2, 10, QLatin1Char('0'))
                           .arg(rng() % 60, 2, 10, QLatin1Char('0'));
            } else {
                for (int w = 0, n = 3 + static_cast<int>(rng() % 12); w < n; ++w)
                    text += words[rng() % std::size(words)] + QLatin1Char(' ');
            }
            cursor.insertText(text, format);
        }
    }
}

double BestMs(int rounds, const std::function<void()>& work) {
    double best = 1e300;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    constexpr qsizetype Target = 10 * 1024 * 1024;
    constexpr int Rounds = 3;
    std::mt19937 rng(11);

    // Lines enough for some 10 MB of rich text, from the size of a sample.
    QTextDocument source;
    AddLines(source, 1000, rng);
    const qsizetype sample = quorvik::WriteRtf(source).size();
    AddLines(source, static_cast<int>(1000 * (Target - sample) / sample), rng);
    const QByteArray rtf = quorvik::WriteRtf(source);
    const QString html = source.toHtml();

    QByteArray savedRtf;
    QString savedHtml;
    int loadedBlocks = 0;
    const double load = BestMs(Rounds, [&] {
        QTextDocument document;
        quorvik::ReadRtf(rtf, document);
        loadedBlocks = document.blockCount();
    });
    const double htmlImport = BestMs(Rounds, [&] {
        QTextDocument document;
        document.setHtml(html);
    });
    const double save = BestMs(Rounds, [&] { savedRtf = quorvik::WriteRtf(source); });
    const double htmlExport = BestMs(Rounds, [&] { savedHtml = source.toHtml(); });

    std::printf("bench_history: %d lines, RTF %.1f MB, HTML %.1f MB; best of %d\n",
                source.blockCount(), rtf.size() / 1048576.0, html.toUtf8().size() / 1048576.0,
                Rounds);
    std::printf("load  ReadRtf    %8.1f ms   floor setHtml %8.1f ms   ratio %.2f (target <= 1.50): "
                "%s\n",
                load, htmlImport, load / htmlImport, load <= 1.5 * htmlImport ? "met" : "MISSED");
    std::printf("save  WriteRtf   %8.1f ms   floor toHtml  %8.1f ms   ratio %.2f (target <= 1.50): "
                "%s\n",
                save, htmlExport, save / htmlExport, save <= 1.5 * htmlExport ? "met" : "MISSED");
    // The loaded history saved again must be the file it came from.
    QTextDocument loaded;
    quorvik::ReadRtf(rtf, loaded);
    const bool same = quorvik::WriteRtf(loaded) == rtf;
    std::printf("loaded %d of %d lines; the loaded history saves byte for byte as read: %s\n",
                loadedBlocks, source.blockCount(), same ? "yes" : "NO");
    return loadedBlocks == source.blockCount() && same ? 0 : 1;
}
