// The code page of a table, for the tool and every other reader of whole
// tables (never the DLL, whose exports convert 866 to 1251 and nothing else).
//
// Which code page a table's text is in is decided in this order: a name the
// user gives; else, in a dBASE 7 table, the name of its language driver
// ("DB866RU0"), which dBASE itself writes; else a .cpg file beside the
// table, as GIS programs write one ("UTF-8", "1251", "ANSI 1251", "OEM 866",
// "ISO-8859-1", "88591"); else the language byte, by the language-driver
// table of dBASE and FoxPro; else, for language byte 0, Windows-1251, which
// is what these tables were read as before any of this was known.
//
// Text is converted to UTF-8 by the system's converter (iconv natively,
// MultiByteToWideChar on Windows: tables/codepage_system.h) once per code
// page into a table of 256 entries, so a value costs a lookup a byte.  Code
// pages neither system knows (Mazovia, Kamenicky) have tables of our own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"  // Utf8_Next, Utf8_Append

namespace hyl {

constexpr int kCodePageUtf8 = 65001;

// The code page a language byte names, 0 for none (language byte 0, or one
// no table of language drivers lists).
int CodePage_OfLanguage(uint8_t language);
// The language byte a table in CODEPAGE is marked with, 0 for none (UTF-8).
uint8_t CodePage_Language(int codepage);
// The code page a dBASE 7 language driver name stands for ("DB866RU0" 866,
// "DBWINUS0" 1252), 0 for none.
int CodePage_OfDriverName(std::string_view name);
// A code page by a name as --encoding and .cpg files give it, in any case:
// "UTF-8", "1251", "CP1251", "windows-1250", "ANSI 1251", "OEM 866", "IBM866",
// "ISO-8859-5", "88591", "KOI8-R", "Mazovia".  0 when it names none.
int CodePage_FromName(std::string_view name);
// The name iconv knows CODEPAGE by ("CP866", "KOI8-R", "ISO-8859-5"), empty
// for the code pages with tables of our own, and the name Python's codecs
// give it ("cp866", "koi8-r", "iso8859-5", "utf-8").
std::string CodePage_IconvName(int codepage);
std::string CodePage_PythonName(int codepage);
// "code page 1250", "UTF-8", "ISO-8859-1", "code page 620 (Mazovia)".
std::string CodePage_Name(int codepage);

enum class CodePageSource { kGiven, kLanguageDriver, kCpgFile, kLanguageByte, kDefault };

struct CodePageChoice {
    int codepage = 1251;
    CodePageSource source = CodePageSource::kDefault;
    uint8_t language = 0;
    std::string driver;  // the dBASE 7 language driver name it was decided by
    // "code page 1250 (language byte 0xC8)", "UTF-8 (.cpg)",
    // "code page 866 (language driver DB866RU0)".
    std::string describe() const;
};

// What a table says of its code page, and what the user says.
struct CodePageClues {
    std::string_view given;   // the user's name, or empty
    std::string_view driver;  // a dBASE 7 language driver name, or empty
    std::string_view cpg;     // the text of the .cpg file, or empty when there is none
    uint8_t language = 0;     // the language byte
};

// Decides as above.  False, with the choice unset, when the given name or
// the .cpg names no code page (then *UNKNOWN is that name).  A driver name
// this library does not know says nothing.
bool CodePage_Choose(const CodePageClues& clues, CodePageChoice* choice, std::string* unknown);

// Bytes of one code page to UTF-8 and back.
class TextCodec {
public:
    // False when neither this system nor our own tables can convert CODEPAGE.
    bool set(int codepage);
    int codepage() const { return codepage_; }
    bool multibyte() const { return mode_ == Mode::kMultiByte; }

    // Appends BYTES as UTF-8; each byte (or sequence) that is not valid in
    // the code page becomes U+FFFD.  Returns how many there were.
    int append_utf8(std::string& out, std::string_view bytes) const;

    // UTF-8 text in the code page.  False when a character has no place in
    // it (then *MISSING is that character) or when the text is not UTF-8
    // (*MISSING is then 0xFFFFFFFF).
    bool encode(std::string_view utf8, std::string& out, char32_t* missing) const;

private:
    // The bytes of each character of a multi-byte code page, sorted by
    // character: made at the first text written, shared by copies.
    using Reverse = std::vector<std::pair<char32_t, std::string>>;
    const Reverse& multibyte_reverse() const;

    enum class Mode { kNone, kSingleByte, kUtf8, kMultiByte };
    Mode mode_ = Mode::kNone;
    int codepage_ = 0;
    bool ascii_ = true;  // bytes 0x00-0x7F are ASCII
    char utf8_[256][4] = {};
    uint8_t length_[256] = {};
    bool valid_[256] = {};
    std::vector<std::pair<char32_t, uint8_t>> reverse_;  // sorted by character
    std::vector<int16_t> direct_;  // single-byte: the byte of each character below U+10000, -1 for none
    mutable std::shared_ptr<const Reverse> multibyte_;
};

}  // namespace hyl
