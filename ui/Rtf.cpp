#include "ui/Rtf.h"

#include "link/Cp1251.h"

#include <QColor>
#include <QHash>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <climits>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace quorvik {
namespace {

// Bounds that keep hostile files from exhausting memory or overflowing.
constexpr int MaxDepth = 1000;
constexpr int MaxWordLength = 32;
constexpr long long ParameterCap = 10'000'000'000LL;
constexpr int MaxHalfPoints = 3276;

constexpr char16_t Undefined = 0xFFFD;

// Code points of the bytes 0x80..0x9F of code page 1252; the rest is Latin-1.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x0000, 0x017D, 0x0000, // 88
    0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x017E, 0x0178, // 98
};

char16_t DecodeByte(unsigned char byte, int codePage) {
    if (byte < 0x80) {
        return byte;
    }
    if (codePage == 1251) {
        return char16_t(Cp1251CodePoint(byte));
    }
    char16_t c = byte;
    if (byte < 0xA0) {
        c = Cp1252High[byte - 0x80];
    }
    return c != 0 ? c : Undefined;
}

int CodePageOfCharset(int charset, int documentCodePage) {
    switch (charset) {
    case 0:
        return 1252;
    case 204:
        return 1251;
    case 1: // the system's default
        return documentCodePage;
    default: // other charsets read best as Latin
        return 1252;
    }
}

// Character formatting of a group, with colours and fonts as table indices.
struct Format {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int font = -1;      // -1: the default font
    int halfPoints = 0; // 0: not set
    int foreground = 0; // 0: automatic
    int background = 0; // 0: none
    bool operator==(const Format&) const = default;
};

enum class Destination { Text, FontTable, ColorTable, Skip };

struct Group {
    Format format;
    int unicodeSkip = 1;
    Destination destination = Destination::Text;
};

struct Font {
    QString face;
    int charset = 1;
    int codePage = 0; // 0: from the charset
};

enum class Word {
    Par,
    Line,
    Tab,
    Plain,
    Bold,
    Italic,
    Underline,
    UnderlineNone,
    Color,
    Highlight,
    FontSize,
    FontNumber,
    Charset,
    FontCodePage,
    Red,
    Green,
    Blue,
    Unicode,
    UnicodeSkip,
    AnsiCodePage,
    DefaultFont,
    Binary,
    FontTable,
    ColorTable,
    SkipGroup,
    Symbol,
};

struct WordEntry {
    std::string_view name;
    Word word;
    char16_t symbol = 0;
};

constexpr WordEntry Words[] = {
    {"par", Word::Par},
    {"f", Word::FontNumber},
    {"fs", Word::FontSize},
    {"cf", Word::Color},
    {"b", Word::Bold},
    {"i", Word::Italic},
    {"ul", Word::Underline},
    {"ulnone", Word::UnderlineNone},
    {"u", Word::Unicode},
    {"uc", Word::UnicodeSkip},
    {"highlight", Word::Highlight},
    {"cb", Word::Highlight},
    {"chcbpat", Word::Highlight},
    {"plain", Word::Plain},
    {"line", Word::Line},
    {"tab", Word::Tab},
    {"cell", Word::Tab},
    {"sect", Word::Par},
    {"page", Word::Par},
    {"row", Word::Par},
    {"uld", Word::Underline},
    {"uldb", Word::Underline},
    {"ulw", Word::Underline},
    {"ulth", Word::Underline},
    {"uldash", Word::Underline},
    {"ulwave", Word::Underline},
    {"fcharset", Word::Charset},
    {"cpg", Word::FontCodePage},
    {"red", Word::Red},
    {"green", Word::Green},
    {"blue", Word::Blue},
    {"ansicpg", Word::AnsiCodePage},
    {"deff", Word::DefaultFont},
    {"bin", Word::Binary},
    {"fonttbl", Word::FontTable},
    {"colortbl", Word::ColorTable},
    {"stylesheet", Word::SkipGroup},
    {"info", Word::SkipGroup},
    {"pict", Word::SkipGroup},
    {"object", Word::SkipGroup},
    {"fldinst", Word::SkipGroup},
    {"header", Word::SkipGroup},
    {"headerl", Word::SkipGroup},
    {"headerr", Word::SkipGroup},
    {"headerf", Word::SkipGroup},
    {"footer", Word::SkipGroup},
    {"footerl", Word::SkipGroup},
    {"footerr", Word::SkipGroup},
    {"footerf", Word::SkipGroup},
    {"footnote", Word::SkipGroup},
    {"annotation", Word::SkipGroup},
    {"xe", Word::SkipGroup},
    {"tc", Word::SkipGroup},
    {"txe", Word::SkipGroup},
    {"rxe", Word::SkipGroup},
    {"listtable", Word::SkipGroup},
    {"listoverridetable", Word::SkipGroup},
    {"revtbl", Word::SkipGroup},
    {"filetbl", Word::SkipGroup},
    {"nonshppict", Word::SkipGroup},
    {"emdash", Word::Symbol, 0x2014},
    {"endash", Word::Symbol, 0x2013},
    {"lquote", Word::Symbol, 0x2018},
    {"rquote", Word::Symbol, 0x2019},
    {"ldblquote", Word::Symbol, 0x201C},
    {"rdblquote", Word::Symbol, 0x201D},
    {"bullet", Word::Symbol, 0x2022},
    {"emspace", Word::Symbol, 0x2003},
    {"enspace", Word::Symbol, 0x2002},
    {"qmspace", Word::Symbol, 0x2005},
};

const WordEntry* FindWord(std::string_view name) {
    for (const WordEntry& entry : Words) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (IsDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Characters that would turn into block or frame boundaries in the document,
// and the stand-in of embedded objects, which the file does not keep.
bool IsStructural(char16_t c) {
    return c == 0 || c == '\n' || c == '\r' || c == QChar::ParagraphSeparator || c == 0xFDD0 ||
           c == 0xFDD1 || c == QChar::ObjectReplacementCharacter;
}

class Reader {
public:
    Reader(const QByteArray& rtf, QTextDocument& document)
        : p_(rtf.constData()), end_(rtf.constData() + rtf.size()), cursor_(&document) {
        groups_.emplace_back();
    }

    void Run() {
        while (p_ < end_) {
            const char c = *p_++;
            switch (c) {
            case '{':
                OpenGroup();
                break;
            case '}':
                if (!CloseGroup()) {
                    p_ = end_;
                }
                break;
            case '\\':
                Control();
                break;
            case '\r':
            case '\n':
                break;
            default:
                if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') {
                    Byte(static_cast<unsigned char>(c));
                }
            }
        }
        AppendBlocks(pendingBlocks_ - 1);
        FlushRun();
    }

private:
    Group& Current() { return groups_.back(); }

    void OpenGroup() {
        skip_ = 0;
        if (static_cast<int>(groups_.size()) <= MaxDepth) {
            groups_.push_back(groups_.back());
        } else {
            ++overflow_;
        }
    }

    // False once the outermost group has closed: the document ends there.
    bool CloseGroup() {
        skip_ = 0;
        if (Current().destination == Destination::FontTable) {
            CommitFont();
        }
        if (overflow_ > 0) {
            --overflow_;
            return true;
        }
        if (groups_.size() > 1) {
            groups_.pop_back();
        }
        return groups_.size() > 1;
    }

    void Control() {
        if (p_ == end_) {
            return;
        }
        if (IsLetter(*p_)) {
            ControlWord();
            return;
        }
        const char c = *p_++;
        if (c == '\'') {
            Hex();
            return;
        }
        if (c == '*') {
            Current().destination = Destination::Skip;
            return;
        }
        if (Skipped()) {
            return;
        }
        switch (c) {
        case '\\':
        case '{':
        case '}':
            Character(static_cast<char16_t>(c));
            break;
        case '~':
            Character(0x00A0);
            break;
        case '_':
            Character(0x2011);
            break;
        case '\r':
        case '\n':
            Paragraph();
            break;
        default: // optional hyphen, index entries and the like
            break;
        }
    }

    void ControlWord() {
        const char* start = p_;
        while (p_ < end_ && IsLetter(*p_)) {
            ++p_;
        }
        const std::string_view name(start, static_cast<std::size_t>(p_ - start));
        bool negative = false;
        if (p_ + 1 < end_ && *p_ == '-' && IsDigit(p_[1])) {
            negative = true;
            ++p_;
        }
        bool hasParameter = false;
        long long value = 0;
        while (p_ < end_ && IsDigit(*p_)) {
            hasParameter = true;
            if (value < ParameterCap) {
                value = value * 10 + (*p_ - '0');
            }
            ++p_;
        }
        if (p_ < end_ && *p_ == ' ') {
            ++p_;
        }
        value = std::min(value, static_cast<long long>(INT_MAX));
        const int parameter = static_cast<int>(negative ? -value : value);
        const WordEntry* entry = name.size() <= MaxWordLength ? FindWord(name) : nullptr;
        if (entry != nullptr && entry->word == Word::Binary) {
            Binary(hasParameter ? parameter : 0);
            return;
        }
        if (Skipped() || entry == nullptr) {
            return;
        }
        Apply(*entry, hasParameter, parameter);
    }

    void Apply(const WordEntry& entry, bool hasParameter, int parameter) {
        Group& group = Current();
        Format& format = group.format;
        const bool on = !hasParameter || parameter != 0;
        if (group.destination == Destination::Skip) {
            return;
        }
        switch (entry.word) {
        case Word::FontTable:
            group.destination = Destination::FontTable;
            return;
        case Word::ColorTable:
            group.destination = Destination::ColorTable;
            return;
        case Word::SkipGroup:
            group.destination = Destination::Skip;
            return;
        case Word::AnsiCodePage:
            documentCodePage_ = parameter;
            return;
        case Word::DefaultFont:
            defaultFont_ = parameter;
            return;
        case Word::UnicodeSkip:
            group.unicodeSkip = std::max(parameter, 0);
            return;
        default:
            break;
        }
        switch (group.destination) {
        case Destination::FontTable:
            FontTableWord(entry.word, parameter);
            return;
        case Destination::ColorTable:
            ColorTableWord(entry.word, parameter);
            return;
        default:
            break;
        }
        switch (entry.word) {
        case Word::Par:
            Paragraph();
            break;
        case Word::Line:
            Character(QChar::LineSeparator);
            break;
        case Word::Tab:
            Character('\t');
            break;
        case Word::Symbol:
            Character(entry.symbol);
            break;
        case Word::Unicode:
            Unicode(parameter);
            break;
        case Word::Plain:
            format = Format{};
            break;
        case Word::Bold:
            format.bold = on;
            break;
        case Word::Italic:
            format.italic = on;
            break;
        case Word::Underline:
            format.underline = on;
            break;
        case Word::UnderlineNone:
            format.underline = false;
            break;
        case Word::Color:
            format.foreground = parameter;
            break;
        case Word::Highlight:
            format.background = parameter;
            break;
        case Word::FontSize:
            format.halfPoints = std::clamp(parameter, 0, MaxHalfPoints);
            break;
        case Word::FontNumber:
            format.font = parameter;
            break;
        default:
            break;
        }
    }

    void FontTableWord(Word word, int parameter) {
        switch (word) {
        case Word::FontNumber:
            CommitFont();
            fontNumber_ = parameter;
            fonts_[fontNumber_];
            break;
        case Word::Charset:
            fonts_[fontNumber_].charset = parameter;
            break;
        case Word::FontCodePage:
            fonts_[fontNumber_].codePage = parameter;
            break;
        case Word::Unicode:
            Unicode(parameter);
            break;
        default:
            break;
        }
    }

    void ColorTableWord(Word word, int parameter) {
        const int component = std::clamp(parameter, 0, 255);
        switch (word) {
        case Word::Red:
            color_.setRed(component);
            break;
        case Word::Green:
            color_.setGreen(component);
            break;
        case Word::Blue:
            color_.setBlue(component);
            break;
        default:
            return;
        }
        colorGiven_ = true;
    }

    // Bytes of \bin are data, never text or markup.
    void Binary(int count) {
        const auto left = static_cast<long long>(end_ - p_);
        p_ += std::clamp(static_cast<long long>(count), 0LL, left);
        if (skip_ > 0) {
            --skip_;
        }
    }

    void Hex() {
        if (end_ - p_ < 2) {
            return;
        }
        const int high = HexValue(p_[0]);
        const int low = HexValue(p_[1]);
        if (high < 0 || low < 0) {
            return;
        }
        p_ += 2;
        Byte(static_cast<unsigned char>(high * 16 + low));
    }

    void Unicode(int parameter) {
        const int value = parameter < 0 ? parameter + 65536 : parameter;
        if (value > 0 && value <= 0xFFFF) {
            Character(static_cast<char16_t>(value));
        }
        skip_ = Current().unicodeSkip;
    }

    // Counts down the fallback characters that follow \u.
    bool Skipped() {
        if (skip_ == 0) {
            return false;
        }
        --skip_;
        return true;
    }

    int CodePage(int fontNumber) const {
        const auto it = fonts_.find(fontNumber < 0 ? defaultFont_ : fontNumber);
        if (it == fonts_.end()) {
            return documentCodePage_;
        }
        if (it->second.codePage != 0) {
            return it->second.codePage;
        }
        return CodePageOfCharset(it->second.charset, documentCodePage_);
    }

    void Byte(unsigned char byte) {
        if (Skipped()) {
            return;
        }
        const Group& group = Current();
        const int font =
            group.destination == Destination::FontTable ? fontNumber_ : group.format.font;
        if (group.destination == Destination::FontTable && byte == ';') {
            CommitFont();
        } else if (group.destination == Destination::ColorTable && byte == ';') {
            colors_.push_back(colorGiven_ ? std::optional<QColor>(color_) : std::nullopt);
            color_ = QColor(0, 0, 0);
            colorGiven_ = false;
        } else {
            Character(DecodeByte(byte, CodePage(font)));
        }
    }

    void Character(char16_t c) {
        if (IsStructural(c)) {
            return;
        }
        switch (Current().destination) {
        case Destination::Text:
            Text(c);
            break;
        case Destination::FontTable:
            // A face name is one plain line.
            if (fontNumber_ != INT_MIN && c >= 0x20 && c != QChar::LineSeparator) {
                fontName_.append(QChar(c));
            }
            break;
        default:
            break;
        }
    }

    void CommitFont() {
        if (fontNumber_ != INT_MIN && !fontName_.isEmpty()) {
            fonts_[fontNumber_].face = fontName_.trimmed();
        }
        fontName_.resize(0);
    }

    void Text(char16_t c) {
        const Format& format = Current().format;
        if (!(format == runFormat_)) {
            FlushRun();
            runFormat_ = format;
        }
        AppendBlocks(pendingBlocks_);
        pendingBlocks_ = 0;
        run_.append(QChar(c));
    }

    // Every \par ends a paragraph; a block is made only when more follows, so
    // the closing \par of the last paragraph leaves no empty block behind.
    void Paragraph() {
        if (Current().destination == Destination::Text) {
            ++pendingBlocks_;
        }
    }

    // Block separators travel inside the runs: the cursor makes the blocks of
    // one run in a single insertion.
    void AppendBlocks(int count) {
        for (int i = 0; i < count; ++i) {
            run_.append(QChar::ParagraphSeparator);
        }
    }

    void FlushRun() {
        if (run_.isEmpty()) {
            return;
        }
        cursor_.insertText(run_, CharFormat(runFormat_));
        run_.resize(0);
    }

    std::optional<QColor> TableColor(int index) const {
        if (index <= 0 || index >= static_cast<int>(colors_.size())) {
            return std::nullopt;
        }
        return colors_[static_cast<std::size_t>(index)];
    }

    QTextCharFormat CharFormat(const Format& format) const {
        QTextCharFormat result;
        if (format.bold) {
            result.setFontWeight(QFont::Bold);
        }
        if (format.italic) {
            result.setFontItalic(true);
        }
        if (format.underline) {
            result.setFontUnderline(true);
        }
        if (format.halfPoints > 0) {
            result.setFontPointSize(format.halfPoints / 2.0);
        }
        if (const auto color = TableColor(format.foreground)) {
            result.setForeground(*color);
        }
        if (const auto color = TableColor(format.background)) {
            result.setBackground(*color);
        }
        if (format.font >= 0 && format.font != defaultFont_) {
            const auto it = fonts_.find(format.font);
            if (it != fonts_.end() && !it->second.face.isEmpty()) {
                result.setFontFamilies({it->second.face});
            }
        }
        return result;
    }

    const char* p_;
    const char* end_;
    QTextCursor cursor_;
    std::vector<Group> groups_;
    int overflow_ = 0;
    int skip_ = 0;
    int documentCodePage_ = 1252;
    int defaultFont_ = 0;
    std::map<int, Font> fonts_;
    int fontNumber_ = INT_MIN;
    QString fontName_;
    std::vector<std::optional<QColor>> colors_;
    QColor color_{0, 0, 0};
    bool colorGiven_ = false;
    QString run_;
    Format runFormat_;
    int pendingBlocks_ = 0;
};

void ReadPlainText(const QByteArray& bytes, QTextDocument& document) {
    QString text;
    text.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '\r') {
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') {
                ++i;
            }
            text.append(QChar::ParagraphSeparator);
        } else if (byte == '\n') {
            text.append(QChar::ParagraphSeparator);
        } else if (byte >= 0x20 || byte == '\t') {
            text.append(QChar(DecodeByte(byte, 1251)));
        }
    }
    QTextCursor(&document).insertText(text);
}

// The writer's view of a run: fonts and colours as indices into its tables.
struct Written {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int font = 0;
    int halfPoints = 0;
    int foreground = 0;
    int background = 0;
};

QString FamilyOf(const QTextCharFormat& format) {
    const QStringList families = format.fontFamilies().toStringList();
    return families.isEmpty() ? format.stringProperty(QTextFormat::FontFamily) : families.front();
}

std::optional<QRgb> BrushColor(const QTextCharFormat& format, QTextFormat::Property property) {
    if (!format.hasProperty(property)) {
        return std::nullopt;
    }
    const QBrush brush = format.brushProperty(property);
    if (brush.style() == Qt::NoBrush) {
        return std::nullopt;
    }
    return brush.color().rgb();
}

void AppendNumber(QByteArray& out, const char* word, int value) {
    out += word;
    out += QByteArray::number(value);
}

void AppendText(QByteArray& out, QStringView text) {
    static constexpr char Hex[] = "0123456789abcdef";
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == '\\' || c == '{' || c == '}') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\t') {
            out += "\\tab ";
        } else if (c == QChar::LineSeparator) {
            out += "\\line ";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (IsStructural(c)) {
            continue;
        } else if (const int byte = Cp1251Byte(c); byte >= 0x80) {
            out += "\\'";
            out += Hex[byte >> 4];
            out += Hex[byte & 0xF];
        } else {
            // RTF takes \u as a signed 16-bit number.
            AppendNumber(out, "\\u", c >= 0x8000 ? int(c) - 0x10000 : int(c));
            out += '?';
        }
    }
}

void AppendFontName(QByteArray& out, const QString& family) {
    QString name;
    for (const QChar c : family) {
        if (c >= QChar(0x20) && c != QChar(';') && c != QChar(QChar::LineSeparator)) {
            name += c;
        }
    }
    AppendText(out, name);
}

void AppendColor(QByteArray& out, QRgb rgb) {
    AppendNumber(out, "\\red", qRed(rgb));
    AppendNumber(out, "\\green", qGreen(rgb));
    AppendNumber(out, "\\blue", qBlue(rgb));
    out += ';';
}

// Emits the control words that take the file from the written format to the
// wanted one; true when any was emitted.
bool AppendFormat(QByteArray& out, Written& written, const Written& wanted) {
    const qsizetype start = out.size();
    if (wanted.halfPoints == 0 && written.halfPoints != 0) {
        // Only \plain takes a size back to "not set".
        out += "\\plain";
        written = Written{};
    }
    if (wanted.font != written.font) {
        AppendNumber(out, "\\f", wanted.font);
    }
    if (wanted.halfPoints != written.halfPoints) {
        AppendNumber(out, "\\fs", wanted.halfPoints);
    }
    if (wanted.foreground != written.foreground) {
        AppendNumber(out, "\\cf", wanted.foreground);
    }
    if (wanted.background != written.background) {
        AppendNumber(out, "\\highlight", wanted.background);
    }
    if (wanted.bold != written.bold) {
        out += wanted.bold ? "\\b" : "\\b0";
    }
    if (wanted.italic != written.italic) {
        out += wanted.italic ? "\\i" : "\\i0";
    }
    if (wanted.underline != written.underline) {
        out += wanted.underline ? "\\ul" : "\\ulnone";
    }
    written = wanted;
    return out.size() != start;
}

class Tables {
public:
    explicit Tables(const QTextDocument& document) {
        fonts_.push_back(document.defaultFont().family());
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                Add(it.fragment().charFormat());
            }
        }
    }

    Written Of(const QTextCharFormat& format) const {
        Written result;
        result.bold = format.fontWeight() >= QFont::DemiBold;
        result.italic = format.fontItalic();
        result.underline = format.fontUnderline();
        const QString family = FamilyOf(format);
        result.font = family.isEmpty() ? 0 : fontIndex_.value(family);
        const qreal points = format.fontPointSize();
        result.halfPoints = points > 0 ? std::clamp(qRound(points * 2), 1, MaxHalfPoints) : 0;
        if (const auto color = BrushColor(format, QTextFormat::ForegroundBrush)) {
            result.foreground = colorIndex_.value(*color);
        }
        if (const auto color = BrushColor(format, QTextFormat::BackgroundBrush)) {
            result.background = colorIndex_.value(*color);
        }
        return result;
    }

    void AppendHeader(QByteArray& out) const {
        out += "{\\rtf1\\ansi\\ansicpg1251\\deff0\\deflang1049{\\fonttbl";
        for (std::size_t i = 0; i < fonts_.size(); ++i) {
            AppendNumber(out, "{\\f", static_cast<int>(i));
            out += "\\fnil\\fcharset204 ";
            AppendFontName(out, fonts_[i]);
            out += ";}";
        }
        out += "}\r\n{\\colortbl ;";
        for (const QRgb rgb : colors_) {
            AppendColor(out, rgb);
        }
        out += "}\r\n\\viewkind4\\uc1\\pard";
    }

private:
    void Add(const QTextCharFormat& format) {
        const QString family = FamilyOf(format);
        if (!family.isEmpty() && !fontIndex_.contains(family)) {
            fontIndex_.insert(family, static_cast<int>(fonts_.size()));
            fonts_.push_back(family);
        }
        for (const auto property : {QTextFormat::ForegroundBrush, QTextFormat::BackgroundBrush}) {
            if (const auto color = BrushColor(format, property)) {
                if (!colorIndex_.contains(*color)) {
                    colors_.push_back(*color);
                    colorIndex_.insert(*color, static_cast<int>(colors_.size()));
                }
            }
        }
    }

    // Font 0 is the document's default font; runs with a face of their own get
    // their own entries even when the face is the same.
    std::vector<QString> fonts_;
    QHash<QString, int> fontIndex_;
    std::vector<QRgb> colors_;
    QHash<QRgb, int> colorIndex_;
};

} // namespace

void ReadRtf(const QByteArray& rtf, QTextDocument& document) {
    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    {
        // Clearing inside the edit block makes the whole load one change, which
        // a view lays out lazily instead of all at once.
        QTextCursor batch(&document);
        batch.beginEditBlock();
        document.clear();
        if (rtf.startsWith("{\\rtf")) {
            Reader(rtf, document).Run();
        } else {
            ReadPlainText(rtf, document);
        }
        batch.endEditBlock();
    }
    document.setUndoRedoEnabled(undo);
}

QByteArray WriteRtf(const QTextDocument& document) {
    const Tables tables(document);
    QByteArray out;
    out.reserve(document.characterCount() + 4096);
    tables.AppendHeader(out);
    Written written;
    bool delimit = true;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            delimit = AppendFormat(out, written, tables.Of(fragment.charFormat())) || delimit;
            if (delimit) {
                out += ' ';
                delimit = false;
            }
            AppendText(out, fragment.text());
        }
        out += "\\par\r\n";
        delimit = false;
    }
    out += "}\r\n";
    return out;
}

} // namespace quorvik
