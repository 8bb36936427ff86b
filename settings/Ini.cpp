#include "settings/Ini.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quorvik {

namespace {

constexpr const char* kWriteFailed = "Не удалось записать файл ";
constexpr const char* kNoProgramDir = "Не удалось определить каталог программы: ";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string Reason(int error) {
    return std::error_code(error, std::generic_category()).message();
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const { return fd_; }
    // Closes now and reports close's own failure (a late write error).
    int Close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

// The section name of a "[name]" line.
std::optional<std::string_view> SectionOf(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    const auto close = line.rfind(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(line.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> KeyOf(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() == ';') {
        return std::nullopt;
    }
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return KeyLine{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
}

// Lines [begin, end) of the first such section; begin is its header.
struct SectionRange {
    std::size_t begin;
    std::size_t end;
};

std::optional<SectionRange> FindSection(const std::vector<std::string>& lines,
                                        std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = SectionOf(lines[i]);
        if (!name || !SameName(*name, section)) {
            continue;
        }
        std::size_t end = i + 1;
        while (end < lines.size() && !SectionOf(lines[end])) {
            ++end;
        }
        return SectionRange{i, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::vector<std::string>& lines, SectionRange range,
                                   std::string_view key) {
    for (std::size_t i = range.begin + 1; i < range.end; ++i) {
        const auto line = KeyOf(lines[i]);
        if (line && SameName(line->key, key)) {
            return i;
        }
    }
    return std::nullopt;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = Lower(c);
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Reads the whole file; 0, or the errno of the failure.
int ReadWhole(const std::string& path, std::string& text) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        return errno;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (got == 0) {
            return 0;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

int WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t put = ::write(fd, text.data(), text.size());
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        text.remove_prefix(static_cast<std::size_t>(put));
    }
    return 0;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Replaces the file by text so that a reader, or a crash at any moment, finds
// either the old file or the new one whole. Returns 0 or the errno.
int ReplaceFile(const std::string& path, std::string_view text) {
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;

    // Unique beside the file; a name taken by another writer or left by a
    // killed one is passed over.
    std::string temp;
    int fdNumber = -1;
    for (int attempt = 0; fdNumber < 0; ++attempt) {
        temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(attempt);
        fdNumber = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fdNumber < 0 && (errno != EEXIST || attempt >= 100)) {
            return errno;
        }
    }
    Fd fd(fdNumber);
    if (exists) {
        ::fchmod(fd.Get(), old.st_mode & 07777);
    }
    int error = WriteAll(fd.Get(), text);
    if (error == 0 && ::fsync(fd.Get()) != 0) {
        error = errno;
    }
    if (error == 0 && fd.Close() != 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.c_str());
        return error;
    }
    // The rename itself must survive a power loss too.
    Fd dir(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) {
        ::fsync(dir.Get());
    }
    return 0;
}

} // namespace

IniError IniError::WriteFailed(const std::string& path, int error) {
    return IniError(kWriteFailed + path + ": " + Reason(error));
}

IniError IniError::NoProgramDir(int error) {
    return IniError(kNoProgramDir + Reason(error));
}

bool ParseWholeNumber(std::string_view text, int32_t& value) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    } else if (text.size() >= 2 && text[0] == '0' && Lower(text[1]) == 'x') {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return false;
    }
    constexpr int64_t kLimit = int64_t{1} << 31;
    int64_t magnitude = 0;
    for (const char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0 || digit >= base) {
            return false;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > kLimit) {
            return false;
        }
    }
    const int64_t result = negative ? -magnitude : magnitude;
    if (result > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    value = static_cast<int32_t>(result);
    return true;
}

bool ParseRealNumber(std::string_view text, double& value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return false;
        }
    }
    std::string number(text);
    for (char& c : number) {
        if (c == ',') {
            c = '.';
        }
        // Keeps out "inf", "nan", hexadecimal floats and blanks.
        const bool allowed =
            (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
        if (!allowed) {
            return false;
        }
    }
    double result = 0;
    const char* end = number.data() + number.size();
    const auto [ptr, ec] = std::from_chars(number.data(), end, result);
    if (ec != std::errc() || ptr != end || !std::isfinite(result)) {
        return false;
    }
    value = result;
    return true;
}

IniFile::IniFile(std::string path) : path_(std::move(path)) {
    std::string text;
    const int error = ReadWhole(path_, text);
    if (error == ENOENT || error == ENOTDIR) {
        return; // no file: empty, and writes create it
    }
    if (error != 0) {
        readError_ = error;
        return;
    }
    std::string_view rest = text;
    if (rest.starts_with(kBom)) {
        bom_ = true;
        rest.remove_prefix(kBom.size());
    }
    const auto firstEnd = rest.find('\n');
    crlf_ = firstEnd == std::string_view::npos || (firstEnd > 0 && rest[firstEnd - 1] == '\r');
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        lines_.emplace_back(line);
    }
}

std::optional<std::string> IniFile::ReadString(std::string_view section,
                                               std::string_view key) const {
    const auto range = FindSection(lines_, section);
    if (!range) {
        return std::nullopt;
    }
    const auto index = FindKey(lines_, *range, key);
    if (!index) {
        return std::nullopt;
    }
    return std::string(KeyOf(lines_[*index])->value);
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
    const auto text = ReadString(section, key);
    int32_t value = def;
    if (text) {
        ParseWholeNumber(*text, value);
    }
    return value;
}

double IniFile::ReadFloat(std::string_view section, std::string_view key, double def) const {
    const auto text = ReadString(section, key);
    double value = def;
    if (text) {
        ParseRealNumber(*text, value);
    }
    return value;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    if (readError_ != 0) {
        // Replacing a file we could not read would lose what it holds.
        throw IniError::WriteFailed(path_, readError_);
    }
    std::vector<std::string> lines = lines_;
    std::string entry = std::string(key) + "=" + std::string(value);
    if (const auto range = FindSection(lines, section)) {
        if (const auto index = FindKey(lines, *range, key)) {
            lines[*index] = std::move(entry);
        } else {
            std::size_t at = range->end;
            while (at > range->begin + 1 && Trim(lines[at - 1]).empty()) {
                --at;
            }
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
        }
    } else {
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(std::move(entry));
    }

    const std::string_view eol = crlf_ ? "\r\n" : "\n";
    std::string text = bom_ ? std::string(kBom) : std::string();
    for (const auto& line : lines) {
        text += line;
        text += eol;
    }
    if (const int error = ReplaceFile(path_, text)) {
        throw IniError::WriteFailed(path_, error);
    }
    lines_ = std::move(lines);
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    WriteString(section, key, std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

} // namespace quorvik
