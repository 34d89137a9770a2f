// Code pages of tables: the language-driver table, names, and conversion.
#include "tables/codepage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/threads.h"
#include "tables/codepage_system.h"

namespace hyl {
namespace {

// The language drivers that dBASE IV and FoxPro documented, by their byte.
struct LanguageDriver {
    uint8_t language;
    int codepage;
};
constexpr LanguageDriver kLanguageDrivers[] = {
    {0x01, 437},   {0x02, 850},   {0x03, 1252},  {0x04, 10000}, {0x08, 865},  {0x09, 437},  {0x0A, 850},
    {0x0B, 437},   {0x0D, 437},   {0x0E, 850},   {0x0F, 437},   {0x10, 850},  {0x11, 437},  {0x12, 850},
    {0x13, 932},   {0x14, 850},   {0x15, 437},   {0x16, 850},   {0x17, 865},  {0x18, 437},  {0x19, 437},
    {0x1A, 850},   {0x1B, 437},   {0x1C, 863},   {0x1D, 850},   {0x1F, 852},  {0x22, 852},  {0x23, 852},
    {0x24, 860},   {0x25, 850},   {0x26, 866},   {0x37, 850},   {0x40, 852},  {0x4D, 936},  {0x4E, 949},
    {0x4F, 950},   {0x50, 874},   {0x57, 1252},  {0x58, 1252},  {0x59, 1252}, {0x64, 852},  {0x65, 866},
    {0x66, 865},   {0x67, 861},   {0x68, 895},   {0x69, 620},   {0x6A, 737},  {0x6B, 857},  {0x6C, 863},
    {0x78, 950},   {0x79, 949},   {0x7A, 936},   {0x7B, 932},   {0x7C, 874},  {0x7D, 1255}, {0x7E, 1256},
    {0x86, 737},   {0x87, 852},   {0x88, 857},   {0x96, 10007}, {0x97, 10029}, {0x98, 10006}, {0xC8, 1250},
    {0xC9, 1251},  {0xCA, 1254},  {0xCB, 1253},  {0xCC, 1257},
};

// The byte a table we make is marked with where several name one code page:
// the ones FoxPro and this library write.
constexpr LanguageDriver kPreferred[] = {{0x65, 866}, {0x64, 852}, {0x66, 865}, {0x03, 1252}};

// The code pages known by a name rather than a number: how --encoding and
// .cpg files may name them (upper case, blanks and dashes squeezed out), how
// iconv names them (none for the ones with tables of our own), and how
// Python does.  Windows, DOS and ISO 8859 code pages go by their numbers.
struct NamedCodePage {
    int codepage;
    const char* aliases;  // separated by blanks
    const char* iconv;
    const char* python;
};
constexpr NamedCodePage kNamedCodePages[] = {
    {kCodePageUtf8, "UTF8", "UTF-8", "utf-8"},
    {28591, "LATIN1", "ISO-8859-1", "iso8859-1"},
    {20866, "KOI8R", "KOI8-R", "koi8-r"},
    {21866, "KOI8U", "KOI8-U", "koi8-u"},
    {20127, "ASCII USASCII", "ASCII", "ascii"},
    {10000, "MACINTOSH MACROMAN", "MACINTOSH", "mac-roman"},
    {10007, "MACCYRILLIC", "MAC-CYRILLIC", "mac-cyrillic"},
    {10029, "MACLATIN2 MACCENTRALEUROPE", "MAC-CENTRALEUROPE", "mac-latin2"},
    {620, "MAZOVIA", nullptr, "mazovia"},
    {895, "KAMENICKY KEYBCS2", nullptr, "kamenicky"},
    {932, "SHIFTJIS SJIS", "CP932", "cp932"},
    {936, "GBK", "CP936", "gbk"},
    {950, "BIG5", "CP950", "cp950"},
};

const NamedCodePage* named_code_page(int codepage) {
    for (const NamedCodePage& named : kNamedCodePages)
        if (named.codepage == codepage) return &named;
    return nullptr;
}

bool multibyte_codepage(int codepage) { return codepage == 932 || codepage == 936 || codepage == 949 || codepage == 950; }

// Code pages of DOS that no system converter carries: the upper halves,
// 0x80-0xFF, of Kamenicky (Czech and Slovak, 895) and Mazovia (Polish, 620).
// Both keep code page 437's box drawing and symbols from 0xB0 (Mazovia
// changes letters throughout its first half as well).
constexpr char kKamenicky[] =
    "ČüéďäĎŤčěĚĹÍľĺÄÁÉžŽôöÓůÚýÖÜŠĽÝŘťáíóúňŇŮÔšřŕŔ¼§«»"
    "░▒▓│┤╡╢╖╕╣║╗╝╜╛┐└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00A0";
constexpr char kMazovia[] =
    "ÇüéâäàąçêëèïîćÄĄĘęłôöĆûùŚÖÜ¢Ł¥śƒŹŻóÓńŃźż¿⌐¬½¼¡«»"
    "░▒▓│┤╡╢╖╕╣║╗╝╜╛┐└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00A0";

bool own_table(int codepage, int32_t (&characters)[256]) {
    const char* upper = codepage == 895 ? kKamenicky : codepage == 620 ? kMazovia : nullptr;
    if (!upper) return false;
    for (int b = 0; b < 128; ++b) characters[b] = b;
    const std::string_view text(upper);
    std::size_t at = 0;
    for (int b = 128; b < 256; ++b) {
        char32_t c = 0xFFFD;
        Utf8_Next(text, &at, &c);
        characters[b] = static_cast<int32_t>(c);
    }
    return true;
}

std::string upper_squeezed(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c == ' ' || c == '-' || c == '_' || c == '\t' || c == '\r' || c == '\n') continue;
        out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}

bool digits_only(std::string_view s) {
    return !s.empty() && s.size() <= 5 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string hex(uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

}  // namespace

int CodePage_OfLanguage(uint8_t language) {
    for (const LanguageDriver& d : kLanguageDrivers)
        if (d.language == language) return d.codepage;
    return 0;
}

uint8_t CodePage_Language(int codepage) {
    for (const LanguageDriver& d : kPreferred)
        if (d.codepage == codepage) return d.language;
    for (const LanguageDriver& d : kLanguageDrivers)
        if (d.codepage == codepage) return d.language;
    return 0;
}

int CodePage_OfDriverName(std::string_view name) {
    // dBASE 7 names its driver by the Borland database engine's names.
    // Most of dBASE's own name their DOS code page in digits ("DB866RU0",
    // "DB437US0", "DB852PO0"), FoxPro's theirs after the country
    // ("FOXCZ895"), and the windows ones are Windows-1252's ("DBWINUS0",
    // "FOXDEWIN"); the engine's Paradox drivers, which dBASE tables may carry
    // too, are listed by name.
    static const struct {
        const char* name;
        int codepage;
    } kDrivers[] = {
        {"DB867CZ0", 895}, {"CSKAMEN", 895},  {"CSKAMENW", 895}, {"DBHEBREW", 862}, {"DB437GR0", 737},
        {"ANCYRR", 1251},  {"BGPD1251", 1251}, {"CYRR", 866},     {"ANCZECH", 1250}, {"ANCZECHW", 1250},
        {"ANIL2CZW", 1250}, {"ANHUNDC", 1250}, {"ANPOLISH", 1250}, {"ANSISLOV", 1250}, {"CZECH", 852},
        {"CZECHW", 852},   {"HUN852DC", 852}, {"POLISH", 852},   {"SLOVENE", 852},  {"ANGREEK1", 1253},
        {"GRCP437", 737},  {"ANTURK", 1254},  {"TURK", 857},     {"ANHEBREW", 1255}, {"HEBREW", 862},
        {"ANSIINTL", 1252}, {"ANSII850", 1252}, {"ANSISPAN", 1252}, {"ANSISWFN", 1252}, {"ANSINOR4", 1252},
        {"INTL", 437},     {"SPANISH", 437},  {"SWEDFIN", 437},  {"ASCII", 437},    {"INTL850", 850},
        {"NORDAN", 865},   {"NORDAN40", 865}, {"ICELAND", 861},  {"JAPAN", 932},    {"KOREA", 949},
        {"CHINA", 936},    {"TAIWAN", 950},   {"THAI", 874},
    };
    std::string n = upper_squeezed(name);
    for (const auto& driver : kDrivers)
        if (n == driver.name) return driver.codepage;
    if (n.rfind("DBWIN", 0) == 0 || n.rfind("BLLT1", 0) == 0) return 1252;
    if (n.size() == 8 && n.rfind("FOX", 0) == 0) return n.substr(5) == "WIN" ? 1252 : digits_only(n.substr(5)) ? std::stoi(n.substr(5)) : 0;
    if (n.size() >= 5 && n.rfind("DB", 0) == 0 && digits_only(n.substr(2, 3))) return std::stoi(n.substr(2, 3));
    return 0;
}

int CodePage_FromName(std::string_view name) {
    std::string n = upper_squeezed(name);
    for (const NamedCodePage& named : kNamedCodePages)
        for (std::string_view aliases = named.aliases; !aliases.empty();) {
            const std::size_t blank = std::min(aliases.find(' '), aliases.size());
            if (n == aliases.substr(0, blank)) return named.codepage;
            aliases.remove_prefix(std::min(blank + 1, aliases.size()));
        }
    for (const char* prefix : {"ISO8859", "ISO"}) {
        if (n.rfind(prefix, 0) == 0 && digits_only(n.substr(std::string_view(prefix).size()))) {
            const int part = std::stoi(n.substr(std::string_view(prefix).size()));
            return part >= 1 && part <= 16 ? 28590 + part : 0;
        }
    }
    // ESRI's .cpg files name ISO 8859 parts as 88591 ... 885915.
    if (n.size() >= 5 && n.rfind("8859", 0) == 0 && digits_only(n.substr(4))) {
        const int part = std::stoi(n.substr(4));
        return part >= 1 && part <= 16 ? 28590 + part : 0;
    }
    for (const char* prefix : {"WINDOWS", "ANSI", "OEM", "CP", "IBM", "MSDOS", "DOS"}) {
        if (n.rfind(prefix, 0) == 0 && digits_only(n.substr(std::string_view(prefix).size()))) {
            n = n.substr(std::string_view(prefix).size());
            break;
        }
    }
    return digits_only(n) ? std::stoi(n) : 0;
}

std::string CodePage_IconvName(int codepage) {
    if (const NamedCodePage* named = named_code_page(codepage)) return named->iconv ? named->iconv : "";
    if (codepage >= 28591 && codepage <= 28606) return "ISO-8859-" + std::to_string(codepage - 28590);
    return "CP" + std::to_string(codepage);
}

std::string CodePage_PythonName(int codepage) {
    if (const NamedCodePage* named = named_code_page(codepage)) return named->python;
    if (codepage >= 28591 && codepage <= 28606) return "iso8859-" + std::to_string(codepage - 28590);
    return "cp" + std::to_string(codepage);
}

std::string CodePage_Name(int codepage) {
    if (codepage == kCodePageUtf8) return "UTF-8";
    if (codepage >= 28591 && codepage <= 28606) return "ISO-8859-" + std::to_string(codepage - 28590);
    std::string name = "code page " + std::to_string(codepage);
    if (codepage == 620) name += " (Mazovia)";
    if (codepage == 895) name += " (Kamenicky)";
    return name;
}

std::string CodePageChoice::describe() const {
    const std::string name = CodePage_Name(codepage);
    switch (source) {
        case CodePageSource::kGiven: return name + " (--encoding)";
        case CodePageSource::kLanguageDriver: return name + " (language driver " + driver + ")";
        case CodePageSource::kCpgFile: return name + " (.cpg)";
        case CodePageSource::kLanguageByte: return name + " (language byte " + hex(language) + ")";
        case CodePageSource::kDefault: break;
    }
    return name + " (language byte " + hex(language) + " names none; the default)";
}

bool CodePage_Choose(const CodePageClues& clues, CodePageChoice* choice, std::string* unknown) {
    choice->language = clues.language;
    choice->driver.clear();
    auto named = [&](std::string_view text, CodePageSource source) {
        choice->codepage = CodePage_FromName(text);
        choice->source = source;
        if (choice->codepage != 0) return true;
        *unknown = std::string(text);
        while (!unknown->empty() && static_cast<uint8_t>(unknown->back()) <= 0x20) unknown->pop_back();
        return false;
    };
    if (!upper_squeezed(clues.given).empty()) return named(clues.given, CodePageSource::kGiven);
    if (const int codepage = CodePage_OfDriverName(clues.driver)) {
        choice->codepage = codepage;
        choice->source = CodePageSource::kLanguageDriver;
        choice->driver = std::string(clues.driver);
        return true;
    }
    if (!upper_squeezed(clues.cpg).empty()) return named(clues.cpg, CodePageSource::kCpgFile);
    choice->codepage = CodePage_OfLanguage(clues.language);
    choice->source = CodePageSource::kLanguageByte;
    if (choice->codepage == 0) {
        choice->codepage = 1251;
        choice->source = CodePageSource::kDefault;
    }
    return true;
}

bool TextCodec::set(int codepage) {
    mode_ = Mode::kNone;
    codepage_ = codepage;
    reverse_.clear();
    direct_.clear();
    multibyte_.reset();
    if (codepage == kCodePageUtf8) {
        mode_ = Mode::kUtf8;
        return true;
    }
    if (multibyte_codepage(codepage)) {
        if (!SystemCodePage_Known(codepage)) return false;
        mode_ = Mode::kMultiByte;
        return true;
    }
    int32_t characters[256];
    if (!own_table(codepage, characters)) {
        if (!SystemCodePage_Known(codepage)) return false;
        for (int b = 0; b < 256; ++b) {
            const char byte = static_cast<char>(b);
            char32_t c = 0;
            std::size_t used = 0;
            characters[b] = SystemCodePage_First(codepage, {&byte, 1}, &c, &used) ? static_cast<int32_t>(c) : -1;
        }
    }
    ascii_ = true;
    for (int b = 0; b < 256; ++b) {
        std::string u;
        valid_[b] = characters[b] >= 0;
        Utf8_Append(u, valid_[b] ? static_cast<char32_t>(characters[b]) : 0xFFFD);
        length_[b] = static_cast<uint8_t>(u.size());
        std::copy(u.begin(), u.end(), utf8_[b]);
        if (b < 0x80 && characters[b] != b) ascii_ = false;
        if (valid_[b]) reverse_.emplace_back(static_cast<char32_t>(characters[b]), static_cast<uint8_t>(b));
    }
    // Where two bytes give one character, the lower byte writes it.
    std::stable_sort(reverse_.begin(), reverse_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // Text is written a character a lookup.
    direct_.assign(0x10000, -1);
    for (auto it = reverse_.rbegin(); it != reverse_.rend(); ++it)
        if (it->first < 0x10000) direct_[it->first] = it->second;
    mode_ = Mode::kSingleByte;
    return true;
}

int TextCodec::append_utf8(std::string& out, std::string_view bytes) const {
    int invalid = 0;
    switch (mode_) {
        case Mode::kNone:
            return 0;
        case Mode::kMultiByte:
            for (std::size_t at = 0; at < bytes.size();) {
                char32_t c = 0;
                std::size_t used = 0;
                if (SystemCodePage_First(codepage_, bytes.substr(at), &c, &used)) {
                    Utf8_Append(out, c);
                    at += used;
                } else {
                    Utf8_Append(out, 0xFFFD);
                    ++invalid;
                    ++at;
                }
            }
            return invalid;
        case Mode::kUtf8:
            for (std::size_t at = 0; at < bytes.size();) {
                const std::size_t start = at;
                // Runs of ASCII go across whole.
                while (at < bytes.size() && static_cast<uint8_t>(bytes[at]) < 0x80) ++at;
                out.append(bytes.data() + start, at - start);
                if (at == bytes.size()) break;
                char32_t c = 0;
                const std::size_t lead = at;
                if (Utf8_Next(bytes, &at, &c)) {
                    out.append(bytes.data() + lead, at - lead);
                } else {
                    Utf8_Append(out, 0xFFFD);
                    ++invalid;
                    ++at;
                }
            }
            return invalid;
        case Mode::kSingleByte:
            break;
    }
    // The length first, so that the text is written once, in place.
    std::size_t length = 0;
    for (char ch : bytes) length += length_[static_cast<uint8_t>(ch)];
    // Each character is stored as four bytes and the next one written over
    // what it does not use: three bytes of room past the end take the last.
    const std::size_t size = out.size();
    out.resize(size + length + 3);
    char* dst = out.data() + size;
    for (char ch : bytes) {
        const auto b = static_cast<uint8_t>(ch);
        if (b < 0x80 && ascii_) {
            *dst++ = ch;
            continue;
        }
        std::memcpy(dst, utf8_[b], 4);
        dst += length_[b];
        invalid += !valid_[b];
    }
    out.resize(size + length);
    return invalid;
}

const TextCodec::Reverse& TextCodec::multibyte_reverse() const {
    // Made once, whichever thread writes first (the library's lock is
    // the one lock every build has).
    LibraryLock lock;
    if (!multibyte_) {
        // Every one- and two-byte sequence the system reads as one character.
        auto reverse = std::make_shared<Reverse>();
        for (int lead = 0; lead < 256; ++lead) {
            char bytes[2] = {static_cast<char>(lead), 0};
            char32_t c = 0;
            std::size_t used = 0;
            if (SystemCodePage_First(codepage_, {bytes, 1}, &c, &used) && used == 1) {
                reverse->emplace_back(c, std::string(bytes, 1));
                continue;
            }
            for (int trail = 0x40; trail < 256 && lead >= 0x80; ++trail) {
                bytes[1] = static_cast<char>(trail);
                if (SystemCodePage_First(codepage_, {bytes, 2}, &c, &used) && used == 2)
                    reverse->emplace_back(c, std::string(bytes, 2));
            }
        }
        std::stable_sort(reverse->begin(), reverse->end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        multibyte_ = std::move(reverse);
    }
    return *multibyte_;
}

bool TextCodec::encode(std::string_view utf8, std::string& out, char32_t* missing) const {
    out.clear();
    if (mode_ == Mode::kUtf8 || mode_ == Mode::kNone) {
        for (std::size_t at = 0; at < utf8.size();) {
            char32_t c = 0;
            if (!Utf8_Next(utf8, &at, &c)) {
                *missing = 0xFFFFFFFF;
                return false;
            }
        }
        if (mode_ == Mode::kNone) return *missing = 0xFFFFFFFF, false;
        out.assign(utf8);
        return true;
    }
    const Reverse* multibyte = mode_ == Mode::kMultiByte ? &multibyte_reverse() : nullptr;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t c = 0;
        if (!Utf8_Next(utf8, &at, &c)) {
            *missing = 0xFFFFFFFF;
            return false;
        }
        if (multibyte) {
            const auto it = std::lower_bound(multibyte->begin(), multibyte->end(), c,
                                             [](const auto& entry, char32_t key) { return entry.first < key; });
            if (it == multibyte->end() || it->first != c) return *missing = c, false;
            out += it->second;
            continue;
        }
        const int byte = c < 0x10000 ? direct_[c] : -1;
        if (byte < 0) return *missing = c, false;
        out += static_cast<char>(byte);
    }
    return true;
}

}  // namespace hyl
