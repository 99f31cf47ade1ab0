// The resedit command line: one handler per command, each checking its own arguments.
#include "tools/resedit/cli.h"

#include "platform/file.h"
#include "platform/text.h"
#include "resedit/resedit.h"

#include <cstdio>
#include <optional>

namespace resedit::cli {

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: resedit list    FILE\n"
    "       resedit extract FILE TYPE NAME LANGUAGE OUTFILE\n"
    "       resedit set     FILE TYPE NAME LANGUAGE DATAFILE\n"
    "       resedit delete  FILE TYPE NAME [LANGUAGE]\n"
    "       resedit icon    FILE GROUP LANGUAGE ICOFILE\n"
    "\n"
    "TYPE, NAME and GROUP are ids (0 to 65535) or texts; a text that looks like a number is\n"
    "given in double quotes (\"106\" is the text, 106 the id). TYPE may also be one of\n"
    "CURSOR, BITMAP, ICON, MENU, DIALOG, STRING, FONTDIR, FONT, ACCELERATOR, RCDATA,\n"
    "MESSAGETABLE, GROUP_CURSOR, GROUP_ICON, VERSION, DLGINCLUDE, PLUGPLAY, VXD, ANICURSOR,\n"
    "ANIICON, HTML, MANIFEST. LANGUAGE is a Windows language id (1033 English, 2052 Chinese).\n"
    "delete without LANGUAGE removes the name in every language. set adds the resource or\n"
    "replaces its bytes; icon replaces a group icon and its images by an .ico file's.\n";

struct TypeName {
    std::uint16_t id;
    const char* name;
};
constexpr TypeName kTypes[] = {
    {1, "CURSOR"},      {2, "BITMAP"},     {3, "ICON"},          {4, "MENU"},
    {5, "DIALOG"},      {6, "STRING"},     {7, "FONTDIR"},       {8, "FONT"},
    {9, "ACCELERATOR"}, {10, "RCDATA"},    {11, "MESSAGETABLE"}, {12, "GROUP_CURSOR"},
    {14, "GROUP_ICON"}, {16, "VERSION"},   {17, "DLGINCLUDE"},   {19, "PLUGPLAY"},
    {20, "VXD"},        {21, "ANICURSOR"}, {22, "ANIICON"},      {23, "HTML"},
    {24, "MANIFEST"},
};

std::optional<std::uint32_t> Number(std::u16string_view s, std::uint32_t max) {
    if (s.empty() || s.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t v = 0;
    for (char16_t c : s) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        v = v * 10 + (c - u'0');
    }
    if (v > max) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(v);
}

// A key from the command line: a number is an id, a text in double quotes or anything else
// is a name; for types, the usual symbolic names are ids.
std::optional<ResKey> ParseKey(std::u16string_view s, bool isType) {
    if (s.size() >= 2 && s.front() == u'"' && s.back() == u'"') {
        s = s.substr(1, s.size() - 2);
        if (s.empty()) {
            return std::nullopt;
        }
        return ResKey::FromName(s);
    }
    if (auto n = Number(s, 0xFFFF)) {
        return ResKey::FromId(static_cast<std::uint16_t>(*n));
    }
    if (s.empty()) {
        return std::nullopt;
    }
    if (isType) {
        std::string upper = platform::Utf8(s);
        if (upper.rfind("RT_", 0) == 0) {
            upper = upper.substr(3);
        }
        for (const TypeName& t : kTypes) {
            if (upper == t.name) {
                return ResKey::FromId(t.id);
            }
        }
    }
    return ResKey::FromName(s);
}

std::string Show(const TResItem* item) {
    if (!item->named) {
        return std::to_string(item->id);
    }
    std::string s(1, '"');
    s += platform::Utf8(item->name);
    s += '"';
    return s;
}

std::string ShowType(const TResItem* item) {
    std::string s = Show(item);
    if (!item->named) {
        for (const TypeName& t : kTypes) {
            if (t.id == item->id) {
                s += " (";
                s += t.name;
                s += ')';
            }
        }
    }
    return s;
}

void ListLeaves(const TResItem* dir, const std::string& path, int depth, std::string& out) {
    for (const TResItem* c = dir->child; c; c = c->next) {
        std::string p = path;
        if (!p.empty()) {
            p += "  ";
        }
        p += depth == 0 ? ShowType(c) : Show(c);
        if (c->isDir) {
            ListLeaves(c, p, depth + 1, out);
        } else {
            char size[32];
            std::snprintf(size, sizeof size, "%u bytes", c->size);
            out += p;
            out += "  ";
            out += size;
            out += '\n';
        }
    }
}

using Args = std::vector<std::u16string>;

std::string U8(const std::u16string& s) {
    return platform::Utf8(s);
}

class Session {
public:
    Session(std::string& out, std::string& err) : out_(out), err_(err) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    // Closing without writing cannot fail: discarding returns true.
    ~Session() { (void)ResEditClose(handle_, true); }

    int Usage(const std::string& why) {
        if (!why.empty()) {
            err_ += "resedit: " + why + "\n";
        }
        err_ += kUsageText;
        return kUsage;
    }
    int Fail(const std::string& message) {
        err_ += "resedit: " + message + "\n";
        return kFailed;
    }
    int FailWithReason(const std::string& message) {
        std::string m = message;
        if (!ResEditLastMessage().empty()) {
            m += ": " + ResEditLastMessage();
        }
        return Fail(m);
    }

    bool Open(const std::u16string& file, bool dropExisting = false) {
        platform::Os& os = platform::SystemOs();
        handle_ = ResEditOpen(os, file, dropExisting);
        if (!handle_) {
            char code[32];
            std::snprintf(code, sizeof code, " (error %u)", os.LastError());
            Fail("cannot open " + platform::Utf8(file) + ": " + ResEditLastMessage() + code);
            return false;
        }
        file_ = file;
        return true;
    }
    // Closes keeping the changes; the result is the exit code.
    int Commit() {
        TResEditHandle* h = handle_;
        handle_ = nullptr;
        if (!ResEditClose(h, false)) {
            return FailWithReason("cannot write " + platform::Utf8(file_) + "; it is unchanged");
        }
        return kOk;
    }

    TResEditHandle* handle_ = nullptr;
    std::u16string file_;
    std::string& out_;
    std::string& err_;
};

binary::Expected<std::vector<std::uint8_t>> ReadWhole(const std::u16string& path) {
    platform::Os& os = platform::SystemOs();
    platform::ScopedFile f(
        os, os.OpenExisting(path, platform::Access::Read, platform::Share::ReadWrite));
    std::uint64_t n = 0;
    if (!f.IsValid() || !os.GetLength(f.Get(), n)) {
        return binary::Fault(binary::ErrorCode::Io, "cannot open " + platform::Utf8(path));
    }
    if (n > 0xFFFFFFFFull) {
        return binary::Fault(binary::ErrorCode::Unsupported,
                             platform::Utf8(path) + " is larger than a resource can be");
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n));
    std::size_t got = 0;
    if (!os.ReadAt(f.Get(), 0, bytes.data(), bytes.size(), got) || got != bytes.size()) {
        return binary::Fault(binary::ErrorCode::Io, "cannot read " + platform::Utf8(path));
    }
    return bytes;
}

bool WriteWhole(const std::u16string& path, const std::vector<std::uint8_t>& bytes) {
    platform::Os& os = platform::SystemOs();
    platform::ScopedFile f(os, os.CreateAlways(path));
    return f.IsValid() && os.WriteAt(f.Get(), 0, bytes.data(), bytes.size());
}

std::optional<std::uint16_t> Language(std::u16string_view s) {
    const std::optional<std::uint32_t> n = Number(s, 0xFFFF);
    if (!n) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*n);
}

// A resource named by the arguments from `at` on: type, name and (where given) language.
struct Resource {
    ResKey type;
    ResKey name;
    std::uint16_t language = 0;
};
std::optional<Resource> ParseResource(const Args& args, std::size_t at, bool withLanguage) {
    const std::optional<ResKey> type = ParseKey(args[at], true);
    const std::optional<ResKey> name = ParseKey(args[at + 1], false);
    const std::optional<std::uint16_t> language =
        withLanguage ? Language(args[at + 2]) : std::optional<std::uint16_t>(0);
    if (!type || !name || !language) {
        return std::nullopt;
    }
    return Resource{*type, *name, *language};
}

std::string NoResource(const Args& args, bool withLanguage) {
    std::string text = "no resource " + U8(args[2]) + " " + U8(args[3]);
    if (withLanguage) {
        text += " in language " + U8(args[4]);
    }
    return text;
}

int List(Session& s, const Args& args) {
    if (args.size() != 2) {
        return s.Usage("list takes a file");
    }
    if (!s.Open(args[1])) {
        return kFailed;
    }
    ListLeaves(s.handle_->root, "", 0, s.out_);
    return kOk;
}

// The arguments of extract and set: a file, a resource and a file; none after a usage message.
std::optional<Resource> FileResourceFile(Session& s, const Args& args, const std::string& command) {
    if (args.size() != 6) {
        s.Usage(command + " takes a file, a type, a name, a language and a file");
        return std::nullopt;
    }
    const std::optional<Resource> r = ParseResource(args, 2, true);
    if (!r) {
        s.Usage("bad type, name or language");
    }
    return r;
}

int Extract(Session& s, const Args& args) {
    const std::optional<Resource> r = FileResourceFile(s, args, "extract");
    if (!r) {
        return kUsage;
    }
    if (!s.Open(args[1])) {
        return kFailed;
    }
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    if (!ResEditGet(s.handle_, r->type, r->name, r->language, data, size)) {
        return s.Fail(NoResource(args, true));
    }
    // A packed program's resource may have no bytes in the file.
    std::vector<std::uint8_t> bytes;
    if (!ResEditGetBytes(s.handle_, r->type, r->name, r->language, bytes)) {
        return s.FailWithReason("cannot read the resource");
    }
    if (!WriteWhole(args[5], bytes)) {
        return s.Fail("cannot write " + U8(args[5]));
    }
    return kOk;
}

int Set(Session& s, const Args& args) {
    const std::optional<Resource> r = FileResourceFile(s, args, "set");
    if (!r) {
        return kUsage;
    }
    const binary::Expected<std::vector<std::uint8_t>> bytes = ReadWhole(args[5]);
    if (!bytes) {
        return s.Fail(bytes.error().Text());
    }
    if (!s.Open(args[1])) {
        return kFailed;
    }
    static const std::uint8_t none = 0;
    if (!ResEditUpdate(s.handle_, r->type, r->name, r->language,
                       bytes->empty() ? &none : bytes->data(),
                       static_cast<std::uint32_t>(bytes->size()))) {
        return s.FailWithReason("cannot set the resource");
    }
    return s.Commit();
}

int Delete(Session& s, const Args& args) {
    if (args.size() != 4 && args.size() != 5) {
        return s.Usage("delete takes a file, a type, a name and perhaps a language");
    }
    const bool withLanguage = args.size() == 5;
    const std::optional<Resource> r = ParseResource(args, 2, withLanguage);
    if (!r) {
        return s.Usage("bad type, name or language");
    }
    if (!s.Open(args[1])) {
        return kFailed;
    }
    TPResItem* typeLink = ResFindEntry(s.handle_->root, r->type);
    TPResItem* nameLink = *typeLink ? ResFindEntry(*typeLink, r->name) : nullptr;
    if (!nameLink || !*nameLink) {
        return s.Fail(NoResource(args, false));
    }
    if (!withLanguage) {
        const ResChainLink chain[] = {{*typeLink, nameLink}, {s.handle_->root, typeLink}};
        ResRemovePruned(*s.handle_->os, chain, 2);
    } else if (!ResFindLeaf(*nameLink, r->language)) {
        return s.Fail(NoResource(args, true));
    } else if (!ResEditUpdate(s.handle_, r->type, r->name, r->language, nullptr, 0)) {
        return s.FailWithReason("cannot delete the resource");
    }
    return s.Commit();
}

int Icon(Session& s, const Args& args) {
    if (args.size() != 5) {
        return s.Usage("icon takes a file, a group, a language and an .ico file");
    }
    const std::optional<ResKey> group = ParseKey(args[2], false);
    const std::optional<std::uint16_t> language = Language(args[3]);
    if (!group || !language) {
        return s.Usage("bad group or language");
    }
    if (!s.Open(args[1])) {
        return kFailed;
    }
    if (!ResEditReplaceIconGroup(s.handle_, *group, *language, args[4])) {
        return s.FailWithReason("cannot replace the icon group with " + U8(args[4]));
    }
    return s.Commit();
}

struct Command {
    std::u16string_view name;
    int (*run)(Session& s, const Args& args);
};
constexpr Command kCommands[] = {
    {u"list", List}, {u"extract", Extract}, {u"set", Set}, {u"delete", Delete}, {u"icon", Icon},
};

} // namespace

int Run(const std::vector<std::u16string>& args, std::string& out, std::string& err) {
    Session s(out, err);
    if (args.empty()) {
        return s.Usage("");
    }
    if (args[0] == u"-h" || args[0] == u"--help" || args[0] == u"help") {
        out += kUsageText;
        return kOk;
    }
    for (const Command& c : kCommands) {
        if (args[0] == c.name) {
            return c.run(s, args);
        }
    }
    return s.Usage("unknown command " + U8(args[0]));
}

} // namespace resedit::cli
