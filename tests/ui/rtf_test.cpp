#include "ui/Rtf.h"

#include "link/Cp1251.h"

#include "tests/support/QtAppEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <random>
#include <string>
#include <vector>

namespace quorvik {
namespace {

const auto* const Environment =
    ::testing::AddGlobalTestEnvironment(new quorvik::QtAppEnvironment<QApplication>);

std::string Utf8(const QString& text) {
    return text.toStdString();
}

std::string Attributes(const QTextCharFormat& format) {
    std::string out;
    const auto add = [&out](const std::string& part) { out += out.empty() ? part : " " + part; };
    if (format.fontWeight() >= QFont::DemiBold) {
        add("b");
    }
    if (format.fontItalic()) {
        add("i");
    }
    if (format.fontUnderline()) {
        add("u");
    }
    if (format.fontPointSize() > 0) {
        add(QString::number(format.fontPointSize()).toStdString() + "pt");
    }
    if (format.hasProperty(QTextFormat::ForegroundBrush)) {
        add("fg" + Utf8(format.foreground().color().name()));
    }
    if (format.hasProperty(QTextFormat::BackgroundBrush)) {
        add("bg" + Utf8(format.background().color().name()));
    }
    const QStringList families = format.fontFamilies().toStringList();
    if (!families.isEmpty()) {
        add("face:" + Utf8(families.front()));
    }
    return out;
}

// One string per block: each run as [text] and its attributes; adjacent runs
// that look the same are one run.
std::vector<std::string> Describe(const QTextDocument& document) {
    std::vector<std::string> blocks;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        std::string line;
        QString text;
        std::string attributes;
        const auto flush = [&] {
            if (!text.isEmpty()) {
                text.replace('\t', "<tab>")
                    .replace(QChar::LineSeparator, "<br>")
                    .replace(QChar::Nbsp, "<nbsp>");
                line += "[" + Utf8(text) + "]" + attributes;
            }
            text.clear();
        };
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const std::string next = Attributes(it.fragment().charFormat());
            if (next != attributes) {
                flush();
                attributes = next;
            }
            text += it.fragment().text();
        }
        flush();
        blocks.push_back(line);
    }
    return blocks;
}

std::vector<std::string> Load(const QByteArray& rtf) {
    QTextDocument document;
    ReadRtf(rtf, document);
    return Describe(document);
}

QByteArray Fixture(const char* name) {
    QFile file(QStringLiteral(QUORVIK_SOURCE_DIR "/tests/ui/fixtures/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

QTextCharFormat Style(std::initializer_list<const char*> flags, qreal points = 0,
                      QColor foreground = {}, QColor background = {}, QString face = {}) {
    QTextCharFormat format;
    for (const std::string flag : flags) {
        if (flag == "b") {
            format.setFontWeight(QFont::Bold);
        } else if (flag == "i") {
            format.setFontItalic(true);
        } else if (flag == "u") {
            format.setFontUnderline(true);
        }
    }
    if (points > 0) {
        format.setFontPointSize(points);
    }
    if (foreground.isValid()) {
        format.setForeground(foreground);
    }
    if (background.isValid()) {
        format.setBackground(background);
    }
    if (!face.isEmpty()) {
        format.setFontFamilies({face});
    }
    return format;
}

TEST(Rtf, FormattedDocumentSurvivesSaveAndLoad) {
    const QColor navy(0, 0, 128), maroon(128, 0, 0), yellow(255, 255, 0), green(0, 128, 0);
    QTextDocument document;
    QTextCursor cursor(&document);
    // An empty first line, runs in many formats, markup-like text, an empty
    // line in the middle and one at the end.
    cursor.insertBlock();
    cursor.insertText("Orlek:[9:05:01] ", Style({}, 8, navy));
    cursor.insertText(QString::fromUtf8("Привет"), Style({"b"}, 10, maroon, yellow));
    cursor.insertText(QString::fromUtf8(" €ü 漢字 😀"),
                      Style({"i", "u"}, 12, {}, {}, "DejaVu Sans"));
    cursor.insertBlock();
    cursor.insertText("{\\rtf1 \\b evil} \\par }{ \\'41", Style({}));
    cursor.insertText(QString("a\tb") + QChar(QChar::LineSeparator) + "c", Style({"b", "i"}, 20));
    cursor.insertBlock();
    cursor.insertBlock();
    cursor.insertText(QString::fromUtf8("ё Ё № — «» ") + QChar(QChar::Nbsp) +
                          QString::fromUtf8("Ωλ"),
                      Style({"u"}, 3, green));
    cursor.insertText("big", Style({}, 72, {}, navy));
    cursor.insertText("tail", Style({}));
    cursor.insertBlock();

    const QByteArray rtf = WriteRtf(document);
    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1251\\deff0\\deflang1049"));
    for (const char byte : rtf) {
        ASSERT_GT(static_cast<signed char>(byte), 0) << "the file is 7-bit";
    }
    EXPECT_TRUE(rtf.contains("\\'cf\\'f0\\'e8\\'e2\\'e5\\'f2")) << rtf.constData();
    EXPECT_TRUE(rtf.contains("\\u-10179?\\u-8704?")) << "the emoji as a surrogate pair";

    QTextDocument loaded;
    ReadRtf(rtf, loaded);
    EXPECT_EQ(Describe(loaded), Describe(document));
    EXPECT_EQ(loaded.blockCount(), 6);
    EXPECT_EQ(WriteRtf(loaded), rtf);
}

TEST(Rtf, EmptyDocumentStaysOneEmptyBlock) {
    QTextDocument document;
    EXPECT_EQ(Load(WriteRtf(document)), std::vector<std::string>{""});
}

TEST(Rtf, PeerTextWithMarkupStaysText) {
    const char* const texts[] = {
        "{\\rtf1 \\b evil}",  "\\par",  "}}}}{{", "\\'41\\u65?\\bin3 abc",
        "{\\*\\fldinst x}\\", "\\\\\\",
    };
    for (const char* text : texts) {
        QTextDocument document;
        QTextCursor cursor(&document);
        cursor.insertText("Anna:[9:05:07] ", Style({}, 8, QColor(128, 0, 0)));
        cursor.insertText(text, Style({}, 8, QColor(128, 0, 0)));
        cursor.insertBlock();
        cursor.insertText("next", Style({}, 8));
        EXPECT_EQ(Load(WriteRtf(document)), Describe(document)) << text;
    }
}

TEST(Rtf, ReadsRichEditFiles) {
    EXPECT_EQ(Load(Fixture("richedit.rtf")),
              (std::vector<std::string>{
                  "[Orlek:[9:05:01] Привет]8pt fg#000080",
                  "[Anna:[9:05:07] hi]8pt fg#800000",
                  "[Orlek:[9:05:20] ]b 8pt fg#000080[да]b i 8pt fg#000080[ ]b 8pt fg#000080"
                  "[ok]b u 8pt fg#000080",
              }));
    EXPECT_EQ(Load(Fixture("richedit_fonts.rtf")), (std::vector<std::string>{
                                                       "[Привет]10pt fg#000080 bg#ffff00",
                                                       "[café €]14pt fg#000080 face:Arial",
                                                       "",
                                                       "[x<tab>y<br>z]8pt fg#000080",
                                                   }));
}

TEST(Rtf, ReadsWordProcessorFiles) {
    // Style sheet, information, generator, header, field instruction and
    // picture (with binary data holding braces) leave no text behind.
    EXPECT_EQ(Load(Fixture("wordprocessor.rtf")),
              (std::vector<std::string>{
                  "[Bold]b 12pt[ and ]12pt[italic]i 12pt[ Пиâ]12pt",
                  "[link text]u 12pt fg#ff0000[ after]12pt",
                  "",
                  "[Письмо]12pt face:Arial Cyr[—<nbsp>end]12pt",
              }));
}

TEST(Rtf, Cp1251BytesMapBothWays) {
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const QString expected =
            QString::fromStdString(Cp1251ToUtf8(std::string(1, static_cast<char>(byte))));
        const QByteArray hex = "\\'" + QByteArray::number(byte, 16);
        QTextDocument document;
        ReadRtf("{\\rtf1\\ansi\\ansicpg1251 " + hex + "}", document);
        EXPECT_EQ(document.toRawText(), expected) << byte;
        if (expected != QChar(QChar::ReplacementCharacter)) {
            EXPECT_TRUE(WriteRtf(document).contains(hex)) << byte;
        }
    }
}

TEST(Rtf, CodePageFollowsTheFont) {
    const QByteArray table = "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fcharset204 A;}"
                             "{\\f1\\fcharset0 B;}{\\f2\\fcharset1 C;}}";
    EXPECT_EQ(Load(table + "\\'e9\\f1\\'e9\\'80\\f2\\'e9}"),
              std::vector<std::string>{"[й]" + std::string("[é€]face:B") + "[й]face:C"});
    EXPECT_EQ(Load("{\\rtf1\\ansi \\'e9}"), std::vector<std::string>{"[é]"});
    // Font tables without a group per font, as some writers make them.
    EXPECT_EQ(Load("{\\rtf1\\ansi{\\fonttbl\\f0\\fswiss Helvetica;\\f1\\fcharset204 Cyr;}"
                   "\\'e9\\f1\\'e9}"),
              std::vector<std::string>{"[é][й]face:Cyr"});
}

TEST(Rtf, UnicodeSkipsItsFallback) {
    struct Case {
        const char* body;
        const char* text;
    };
    const Case cases[] = {
        {"\\u1055?x", "Пx"},           {"\\u1055 ?x", "Пx"},
        {"\\uc0\\u1055 x", "Пx"},      {"\\uc2\\u1055\\'cf\\'d0x", "Пx"},
        {"\\uc2\\u1055 abx", "Пx"},    {"{\\uc3\\u1055}ab", "Пab"},
        {"\\u1055\\b x", "Пx"},        {"\\u-10179?\\u-8704?", "😀"},
        {"\\u-3913?", "\uF0B7"},       {"\\u0?x", "x"},
        {"{\\uc2 a}\\u1055??", "aП?"},
    };
    for (const Case& c : cases) {
        QTextDocument document;
        ReadRtf(QByteArray("{\\rtf1\\ansi\\ansicpg1251 ") + c.body + "}", document);
        EXPECT_EQ(Utf8(document.toRawText()), c.text) << c.body;
    }
}

TEST(Rtf, MalformedInputLoadsWhatItCan) {
    struct Case {
        QByteArray rtf;
        std::vector<std::string> blocks;
    };
    const Case cases[] = {
        {"", {""}},
        {"{\\rtf1 abc", {"[abc]"}},
        {"{\\rtf1 a}}}b", {"[a]"}},
        {"{\\rtf1 {{a}", {"[a]"}},
        {"{\\rtf1 abc\\b", {"[abc]"}},
        {"{\\rtf1 abc\\", {"[abc]"}},
        {"{\\rtf1 abc\\'", {"[abc]"}},
        {"{\\rtf1 abc\\'4", {"[abc4]"}},
        {"{\\rtf1 x\\'zzy}", {"[xzzy]"}},
        {"{\\rtf1\\fs99999999999999999999 a\\cf4294967296 b\\f-99999999999 c"
         "\\u99999999999?d\\uc99999999999 e}",
         {"[abcde]1638pt"}},
        {"{\\rtf1 a\\bin999999999 xyz}", {"[a]"}},
        {"{\\rtf1 a\\bin-5 b}", {"[ab]"}},
        {"{\\rtf1{\\colortbl;\\red999\\green-5\\blue;}\\cf1 x\\cf7 y\\cf-1 z}",
         {"[x]fg#ff0000[yz]"}},
        {"{\\rtf1{\\fonttbl{\\f0\\fcharset204 A", {""}},
        {"{\\rtf1 \\" + QByteArray(100, 'a') + " x}", {"[x]"}},
        {"{\\rtf1 a\\par b\\par\\par}", {"[a]", "[b]", ""}},
        {"{\\rtf1 a\\\r\nb}", {"[a]", "[b]"}},
        {QByteArray("{\\rtf1 a\0b\x01\x1f"
                    "c}",
                    14),
         {"[abc]"}},
        {"plain\r\ntext\n\xcf\r", {"[plain]", "[text]", "[П]", ""}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Load(c.rtf), c.blocks) << c.rtf.constData();
    }
}

TEST(Rtf, DeepNestingIsBoundedAndBalanced) {
    const int depth = 100000;
    const QByteArray rtf =
        "{\\rtf1 " + QByteArray(depth, '{') + "\\b deep" + QByteArray(depth, '}') + " after}";
    EXPECT_EQ(Load(rtf), std::vector<std::string>{"[deep]b[ after]"});
    EXPECT_EQ(Load("{\\rtf1 " + QByteArray(depth, '{') + "x"), std::vector<std::string>{"[x]"});
}

TEST(Rtf, RandomInputNeverBreaksAndWhatLoadsSavesFaithfully) {
    static constexpr char Tokens[] = "{}\\\\\\'*-; 0123456789abcdef"
                                     "\\par \\u-\\uc\\bin\\fs\\cf\\b\\i\\ul\\f\\line\\tab"
                                     "{\\fonttbl{\\f1\\fcharset0 X;}}{\\colortbl;\\red9;}";
    std::mt19937 random(20261211);
    for (int round = 0; round < 300; ++round) {
        QByteArray rtf = round % 2 == 0 ? "{\\rtf1 " : "";
        const int length = static_cast<int>(random() % 3000);
        for (int i = 0; i < length; ++i) {
            const unsigned pick = random();
            rtf += pick % 4 == 0 ? static_cast<char>(pick >> 8)
                                 : Tokens[(pick >> 8) % (sizeof(Tokens) - 1)];
        }
        QTextDocument document;
        ReadRtf(rtf, document);
        QTextDocument again;
        ReadRtf(WriteRtf(document), again);
        ASSERT_EQ(Describe(again), Describe(document)) << "round " << round;
    }
}

TEST(Rtf, LoadingReplacesContentAndKeepsTheDocumentsDefaults) {
    QTextDocument document;
    QFont font = document.defaultFont();
    font.setPointSize(8);
    document.setDefaultFont(font);
    QTextCursor(&document).insertText("old text");
    ReadRtf(Fixture("richedit.rtf"), document);
    EXPECT_EQ(document.blockCount(), 3);
    EXPECT_FALSE(document.toRawText().contains("old text"));
    EXPECT_EQ(document.defaultFont().pointSize(), 8);
    EXPECT_TRUE(document.isUndoRedoEnabled());
    EXPECT_FALSE(document.isUndoAvailable()) << "loading is not an edit to undo";
}

} // namespace
} // namespace quorvik
