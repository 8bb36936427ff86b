#include "users/ViewUser.h"

#include "link/Cp1251.h"
#include "users/UserDirectoryError.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorvik {
namespace {

// Never reach the network, and keep blanks so an update writes them back.
constexpr int ParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

bool IsElement(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// An absent attribute reads as empty text.
std::string Attribute(xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (!value)
        return {};
    std::string text = Utf8ToCp1251(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

const xmlChar* X(const std::string& utf8) {
    return reinterpret_cast<const xmlChar*>(utf8.c_str());
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// What the file opened with: whether it declared itself, and the encoding to write it back in.
struct Prologue {
    bool declared = false;
    std::string encoding;
};

Prologue ReadPrologue(const std::string& path, const xmlDoc* doc) {
    Prologue prologue;
    std::ifstream in(path, std::ios::binary);
    char head[12] = {};
    in.read(head, sizeof head);
    const auto got = static_cast<std::size_t>(in.gcount());
    const auto* b = reinterpret_cast<const unsigned char*>(head);
    bool utf16 = got >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF));
    if (utf16) {
        // "<?xml" in UTF-16 after the byte-order mark, either byte order.
        prologue.declared =
            got >= 12 && (b[2] == '<' || b[3] == '<') && (b[4] == '?' || b[5] == '?');
    } else {
        std::size_t at = (got >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) ? 3 : 0;
        prologue.declared = got >= at + 5 && std::memcmp(head + at, "<?xml", 5) == 0;
    }
    if (doc->encoding)
        prologue.encoding = reinterpret_cast<const char*>(doc->encoding);
    else if (utf16)
        prologue.encoding = "UTF-16";
    return prologue;
}

std::string SystemReason() {
    return std::strerror(errno);
}

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
    throw UserDirectoryError("Не удалось записать файл " + path + ": " + reason);
}

// Writes the document beside the file and renames it over, so the file is
// never left truncated.
void SaveWhole(xmlDoc* doc, const std::string& path, const Prologue& prologue) {
    std::string temp = path + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0)
        Fail(path, SystemReason());
    temp = name.data();
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        ::fchmod(fd, st.st_mode & 07777);

    int options = prologue.declared ? 0 : XML_SAVE_NO_DECL;
    xmlSaveCtxt* save =
        xmlSaveToFd(fd, prologue.encoding.empty() ? nullptr : prologue.encoding.c_str(), options);
    bool ok = save && xmlSaveDoc(save, doc) >= 0;
    if (save)
        ok = xmlSaveClose(save) >= 0 && ok;
    ok = ok && ::fsync(fd) == 0;
    std::string reason = ok ? "" : SystemReason();
    ::close(fd);
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        if (ok)
            reason = SystemReason();
        ::unlink(temp.c_str());
        Fail(path, reason);
    }
}

} // namespace

ECViewUserReader::ECViewUserReader(std::string path) : path_(std::move(path)) {}

std::string ECViewUserReader::DefaultPath() {
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    std::string exe =
        n > 0 ? std::string(buffer.data(), static_cast<std::size_t>(n)) : std::string();
    return exe.substr(0, exe.rfind('/') + 1) + "viewUsers.xml";
}

int32_t ECViewUserReader::Load() {
    if (Entries)
        return EntryCount;
    if (!FileExists(path_))
        return 0;
    Doc doc(xmlReadFile(path_.c_str(), nullptr, ParseOptions));
    if (!doc)
        return 0;
    for (xmlNode* top = doc->children; top; top = top->next) {
        if (!IsElement(top, "users"))
            continue;
        EntryCount = 0;
        for (xmlNode* child = top->children; child; child = child->next)
            EntryCount += IsElement(child, "user");
        Entries = std::make_unique<ECViewUser[]>(static_cast<std::size_t>(EntryCount));
        int32_t k = 0;
        for (xmlNode* child = top->children; child; child = child->next) {
            if (!IsElement(child, "user"))
                continue;
            Entries[k].Name = Attribute(child, "name");
            Entries[k].Port = Attribute(child, "port");
            ++k;
        }
    }
    return Count();
}

int32_t ECViewUserReader::Count() const {
    return Entries ? EntryCount : 0;
}

const ECViewUser* ECViewUserReader::Item(int32_t index) {
    if (Load() == 0 || index < 0 || index >= Count())
        return nullptr;
    return &Entries[index];
}

void ECViewUserReader::Release() {
    Entries.reset();
}

void ECViewUserReader::SaveUser(std::string name, std::string port) {
    if (!FileExists(path_))
        return;
    Doc doc(xmlReadFile(path_.c_str(), nullptr, ParseOptions));
    if (!doc) {
        const xmlError* error = xmlGetLastError();
        throw UserDirectoryError(error && error->message ? error->message
                                                         : "Не удалось прочитать " + path_);
    }
    xmlNode* root = xmlDocGetRootElement(doc.get());
    xmlNode* found = nullptr;
    for (xmlNode* child = root->children; child && !found; child = child->next)
        if (IsElement(child, "user") && Attribute(child, "name") == name)
            found = child;
    const std::string portUtf8 = Cp1251ToUtf8(port);
    if (found) {
        xmlSetProp(found, X("port"), X(portUtf8));
    } else {
        xmlNode* user = xmlNewChild(root, nullptr, X("user"), nullptr);
        xmlNewProp(user, X("name"), X(Cp1251ToUtf8(name)));
        xmlNewProp(user, X("port"), X(portUtf8));
    }
    SaveWhole(doc.get(), path_, ReadPrologue(path_, doc.get()));
}

} // namespace quorvik
