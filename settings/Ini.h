// A small INI (profile) file: sections in square brackets, "key=value" lines.
// It reads files as the Windows profile functions write and read them (CRLF
// or LF, any letter case in names, blanks around "=", ";" comment lines, a
// UTF-8 byte-order mark) and writes every value through to the file at once,
// keeping all other lines where they are.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvik {

// A file that cannot be written; the message names the file and the reason.
class IniError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;

    static IniError WriteFailed(const std::string& path, int error);
    static IniError NoProgramDir(int error);
};

// A whole number as the platform's StrToInt takes it: leading blanks, an
// optional sign, then decimal digits or hexadecimal digits after "$" or "0x".
// The value must fit a signed 32-bit integer; value is left alone on false.
bool ParseWholeNumber(std::string_view text, int32_t& value);

// A real number with "." or "," as the decimal separator and an optional
// exponent; no blanks, no infinities. value is left alone on false.
bool ParseRealNumber(std::string_view text, double& value);

class IniFile {
public:
    // Reads the file if there is one; a missing or unreadable file reads as
    // empty. Nothing is created until the first write.
    explicit IniFile(std::string path);

    const std::string& Path() const { return path_; }

    // The trimmed value of the first such key in the first such section.
    std::optional<std::string> ReadString(std::string_view section, std::string_view key) const;
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
    double ReadFloat(std::string_view section, std::string_view key, double def) const;

    // Each write replaces the file as a whole (temporary file, fsync,
    // rename), so the file is never left half written. Throws IniError.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int32_t value);
    void WriteFloat(std::string_view section, std::string_view key, double value);

private:
    std::string path_;
    std::vector<std::string> lines_; // without line ends
    bool crlf_ = true;               // new files get CRLF, as the platform writes
    bool bom_ = false;
    int readError_ = 0; // errno of a file that exists but could not be read
};

} // namespace quorvik
