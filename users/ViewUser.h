// The user directory viewUsers.xml: who has logged in on this computer, each
// with the port they last used. Names are held in code page 1251.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quorvik {

class ECViewUser {
public:
    std::string Name = "Unname";
    std::string Port = "Com1";
};

class ECViewUserReader {
public:
    // path: the directory file; by default viewUsers.xml beside the executable.
    explicit ECViewUserReader(std::string path = DefaultPath());

    // Reads the file when nothing is loaded; the number of entries, or 0
    // when the file is missing, malformed or holds no users.
    int32_t Load();
    int32_t Count() const;
    // The entry at index (loading first), or null.
    const ECViewUser* Item(int32_t index);
    // Forgets the entries, so the next Load reads the file afresh.
    void Release();
    // Updates the port of the first entry of that name in the file, or adds
    // the user at the end. Does nothing when the file is missing. Raises
    // UserDirectoryError when the file cannot be parsed or written.
    void SaveUser(std::string name, std::string port);

    static std::string DefaultPath();

    std::unique_ptr<ECViewUser[]> Entries;
    int32_t EntryCount = 0;

private:
    std::string path_;
};

} // namespace quorvik
