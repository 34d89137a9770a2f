// Tables from anywhere: which code page a table is read in and why, text in
// each code page, each memo format made byte by byte, each field type, and
// what check finds in them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <set>

#include "tables/check.h"
#include "tables/codepage.h"
#include "tables/repair.h"
#include "tables/table.h"
#include "tests/dbf_builder.h"
#include "tests/fake_platform.h"
#include "tests/shown_value.h"

using namespace hyl;
using hyltest::shown;
using hyltest::DbfBuilder;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string le32(uint32_t v) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(v >> (8 * i));
    return out;
}
std::string be32(uint32_t v) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(v >> (24 - 8 * i));
    return out;
}


// The first record's values of the table in DIR/t.dbf, each with its problem.
std::vector<std::pair<std::string, ValueProblem>> first_record(const std::string& path, const ReaderOptions& options = {}) {
    TableReader t;
    EXPECT_EQ(t.open(path, options), ReaderStatus::kOpened) << t.error();
    std::vector<std::pair<std::string, ValueProblem>> out;
    t.for_each_batch(0, 1, [&](const RecordBatch& batch) {
        Value v;
        for (int f = 0; f < t.field_count(); ++f) {
            const ValueProblem p = batch.value(0, f, v);
            out.emplace_back(shown(v), p);
        }
        return true;
    });
    return out;
}

std::set<std::string> codes(const CheckReport& r) {
    std::set<std::string> out;
    for (const auto& f : r.findings) out.insert(Check_ProblemCode(f.problem));
    return out;
}

}  // namespace

TEST(CodePage, DecidedByNameThenCpgThenLanguageByte) {
    const struct Case {
        const char* given;
        const char* cpg;
        uint8_t language;
        int codepage;
        const char* described;
        const char* driver = "";
    } cases[] = {
        {"", "", 0xC8, 1250, "code page 1250 (language byte 0xC8)"},
        {"", "", 0x26, 866, "code page 866 (language byte 0x26)"},
        {"", "", 0x69, 620, "code page 620 (Mazovia) (language byte 0x69)"},
        {"", "", 0x00, 1251, "code page 1251 (language byte 0x00 names none; the default)"},
        {"", "UTF-8\r\n", 0xC9, kCodePageUtf8, "UTF-8 (.cpg)"},
        {"", "ANSI 1251", 0, 1251, "code page 1251 (.cpg)"},
        {"", "oem 866", 0, 866, "code page 866 (.cpg)"},
        {"", "88591", 0, 28591, "ISO-8859-1 (.cpg)"},
        {"", "ISO-8859-5", 0, 28595, "ISO-8859-5 (.cpg)"},
        {"", "Windows-1250", 0x65, 1250, "code page 1250 (.cpg)"},
        {"cp1251", "UTF-8", 0x65, 1251, "code page 1251 (--encoding)"},
        {"IBM866", "", 0, 866, "code page 866 (--encoding)"},
        {"utf8", "", 0, kCodePageUtf8, "UTF-8 (--encoding)"},
        // dBASE 7 names its language driver: before the .cpg, after the user.
        {"", "1251", 0x57, 866, "code page 866 (language driver DB866RU0)", "DB866RU0"},
        {"", "", 0, 1252, "code page 1252 (language driver DBWINWE0)", "DBWINWE0"},
        {"", "", 0x57, 437, "code page 437 (language driver DB437US0)", "DB437US0"},
        {"cp1251", "", 0, 1251, "code page 1251 (--encoding)", "DB866RU0"},
        {"", "", 0x65, 866, "code page 866 (language byte 0x65)", "NOSUCH"},
    };
    for (const Case& c : cases) {
        CodePageChoice choice;
        std::string unknown;
        ASSERT_TRUE(CodePage_Choose({c.given, c.driver, c.cpg, c.language}, &choice, &unknown)) << c.given << c.cpg;
        EXPECT_EQ(choice.codepage, c.codepage) << c.given << c.cpg;
        EXPECT_EQ(choice.describe(), c.described);
    }
    CodePageChoice choice;
    std::string unknown;
    EXPECT_FALSE(CodePage_Choose({"", "", "klingon\n", 0}, &choice, &unknown));
    EXPECT_EQ(unknown, "klingon");
}

TEST(CodePage, ConvertsEachCodePageToUtf8) {
    const struct Case {
        int codepage;
        std::string stored;
        std::string utf8;
        int invalid;
    } cases[] = {
        {866, "\x8A\xAE\xE2\xF1\xAB \xCE\xCD\xCE", "Котёл ╬═╬", 0},
        {1251, "\xCA\xEE\xF2\xB8\xEB \x98", "Котёл \xEF\xBF\xBD", 1},
        {1250, "Hn\xECvo\x9Aick\xFD h\xE1j", "Hněvošický háj", 0},
        {1252, "caf\xE9", "café", 0},
        {kCodePageUtf8, "Hn\xC4\x9Bvo \xFF!", "Hněvo \xEF\xBF\xBD!", 1},
        {620, "\x86\x8D\x9E\xA7 \xC9", "ąćśż ╔", 0},
        {895, "\x80\x87\x9B\xA5", "ČčŠŇ", 0},
        {932, "\x93\xFA\x96\x7B", "日本", 0},
    };
    for (const Case& c : cases) {
        TextCodec codec;
        ASSERT_TRUE(codec.set(c.codepage)) << c.codepage;
        std::string out;
        EXPECT_EQ(codec.append_utf8(out, c.stored), c.invalid) << c.codepage;
        EXPECT_EQ(out, c.utf8) << c.codepage;
        // Our own tables fill every byte; writing goes back to the same bytes.
        std::string back;
        char32_t missing = 0;
        if (c.invalid == 0 && !codec.multibyte()) {
            EXPECT_TRUE(codec.encode(c.utf8, back, &missing)) << c.codepage;
            EXPECT_EQ(back, c.stored);
        }
    }
    TextCodec codec;
    codec.set(866);
    std::string out;
    char32_t missing = 0;
    EXPECT_FALSE(codec.encode("«q»", out, &missing));
    EXPECT_EQ(missing, U'«');
}

// A table with one memo field and a memo file beside it, both made byte by
// byte: each format, found in any letter case, and what goes wrong in one.
TEST(Memo, EachFormatAndWhatGoesWrong) {
    const std::string dbase3 = std::string(512, '\0') + "First memo\x1A\x1A" + std::string(500, ' ') +
                               "Second\x1A";
    std::string dbase4(512, '\0');
    dbase4[20] = 0, dbase4[21] = 2;  // 512-byte blocks
    dbase4 += std::string("\xFF\xFF\x08\x00", 4) + le32(8 + 5) + "dBIV!";
    std::string fox(64, '\0');
    fox[7] = 64;  // 64-byte blocks, big-endian
    fox += be32(1) + be32(8) + "FoxPro \xE9" + std::string(64 - 16, '\0');
    fox += be32(2) + be32(3) + "OLE";
    const struct Case {
        const char* what;
        uint8_t version;
        const char* memo_name;  // "" for none
        std::string memo;
        std::string block;      // the field's bytes
        std::string want;
        ValueProblem problem;
    } cases[] = {
        {"dBASE III", 0x83, "t.dbt", dbase3, "         1", "text First memo", ValueProblem::kNone},
        {"dBASE III, a later block", 0x83, "t.dbt", dbase3, "0000000002", "text Second", ValueProblem::kNone},
        {"dBASE IV", 0x8B, "t.DBT", dbase4, "         1", "text dBIV!", ValueProblem::kNone},
        {"FoxPro text, 1252", 0xF5, "t.Fpt", fox, "         1", "text FoxPro é", ValueProblem::kNone},
        {"FoxPro object", 0xF5, "t.fpt", fox, "         2", "binary 3", ValueProblem::kNone},
        {"no memo", 0x83, "t.dbt", dbase3, "          ", "null", ValueProblem::kNone},
        {"a block past the end", 0x83, "t.dbt", dbase3, "        99", "null", ValueProblem::kMemoPastEnd},
        {"an entry past the end", 0xF5, "t.fpt", fox.substr(0, 64 + 12), "         1", "null",
         ValueProblem::kMemoLengthPastEnd},
        {"dBASE IV length past the end", 0x8B, "t.dbt", dbase4.substr(0, 512 + 10), "         1", "null",
         ValueProblem::kMemoLengthPastEnd},
        {"no end marker", 0x83, "t.dbt", std::string(512, '\0') + "cut", "         1", "text cut",
         ValueProblem::kMemoLengthPastEnd},
        {"no memo file", 0x83, "", "", "         1", "null", ValueProblem::kMemoMissing},
        {"not a block number", 0x83, "t.dbt", dbase3, "  12x     ", "text 12x", ValueProblem::kNotABlockNumber},
    };
    for (const Case& c : cases) {
        hyltest::TempDir dir;
        DbfBuilder b;
        b.version = c.version;
        b.language = 0x03;
        b.fields = {{"NOTE", 'M', 10, 0}};
        b.records = {c.block};
        hyltest::write_file(dir.path("t.dbf"), b.build());
        if (*c.memo_name) hyltest::write_file(dir.path(c.memo_name), bytes(c.memo));
        const auto values = first_record(dir.path("t.dbf"));
        ASSERT_EQ(values.size(), 1u) << c.what;
        EXPECT_EQ(values[0].first, c.want) << c.what;
        EXPECT_EQ(values[0].second, c.problem) << c.what;
    }
}

// A memo file gone between the table's open and the reading of its records
// (each reading thread opens it again) makes the table unreadable, not every
// memo missing, which check would pass over as said once already.
TEST(Memo, AMemoFileGoneAfterTheOpenLeavesTheRecordsUnread) {
    hyltest::TempDir dir;
    DbfBuilder b;
    b.version = 0x83;
    b.fields = {{"NOTE", 'M', 10, 0}};
    b.records = {"         1"};
    hyltest::write_file(dir.path("t.dbf"), b.build());
    hyltest::write_file(dir.path("t.dbt"), bytes(std::string(512, '\0') + "memo\x1A"));
    TableReader t;
    ASSERT_EQ(t.open(dir.path("t.dbf")), ReaderStatus::kOpened);
    std::remove(dir.path("t.dbt").c_str());
    EXPECT_EQ(Check_Open(t).status, SnapshotStatus::kUnreadable);
}

// Each type, as Visual FoxPro and dBASE store it, in one table: the value
// read, null where _NullFlags says so, and what is wrong where it is.
TEST(Types, EachTypeReadAsItsValue) {
    const uint32_t day = 2460371;  // 2024-03-01
    const struct Case {
        hyltest::FieldSpec field;
        std::string stored;
        std::string want;
        ValueProblem problem = ValueProblem::kNone;
    } cases[] = {
        {{"C", 'C', 8}, "\xCA\xEE\xF2 \0\0  ", "text Кот"},
        {{"NI", 'N', 6}, "   -42", "int -42"},
        {{"ND", 'N', 8, 2}, " 1250.50", "decimal 1250.50"},
        {{"NBIG", 'N', 20}, " 9007199254740993", "int 9007199254740993"},
        // One past the largest 64-bit integer: a double, not the value before it.
        {{"NPAST", 'N', 20}, " 9223372036854775808", "double 9223372036854775808.000000"},
        {{"NSTAR", 'N', 4}, "****", "null"},
        {{"NBAD", 'N', 4}, "12a ", "text 12a", ValueProblem::kNotANumber},
        {{"F", 'F', 8, 3}, "   3.500", "decimal 3.500"},
        {{"D", 'D', 8}, "20240301", "date 2024-03-01"},
        {{"DBAD", 'D', 8}, "20230229", "text 20230229", ValueProblem::kNotADate},
        {{"LQ", 'L', 1}, "?", "null"},
        {{"LY", 'L', 1}, "y", "true"},
        {{"I", 'I', 4}, le32(static_cast<uint32_t>(-7)), "int -7"},
        {{"AUTO", '+', 4}, le32(12), "int 12"},
        {{"Y", 'Y', 8}, le32(static_cast<uint32_t>(-123400)) + le32(0xFFFFFFFF), "decimal -12.3400"},
        {{"B", 'B', 8}, std::string("\0\0\0\0\0\0\xF4\x3F", 8), "double 1.250000"},
        // dBASE 7's rule in any table: big-endian, all bits flipped for a negative.
        {{"O", 'O', 8}, std::string("\x3F\xFB\xFF\xFF\xFF\xFF\xFF\xFF", 8), "double -2.500000"},
        {{"T", 'T', 8}, le32(day) + le32(45045123), "time 2024-03-01T12:30:45.123"},
        {{"TNONE", 'T', 8}, std::string(8, '\0'), "null"},
        {{"TBAD", 'T', 8}, le32(0) + le32(1000), "null", ValueProblem::kNotADateTime},
        {{"AT", '@', 8}, le32(day) + le32(0), "time 2024-03-01T00:00:00"},
        {{"VFULL", 'V', 4}, "abcd", "text abcd"},
        {{"VSHORT", 'V', 6}, std::string("ab\0\0\0\x02", 6), "text ab"},
        {{"VBAD", 'V', 4}, "abc\x09", "text abc", ValueProblem::kVarcharLength},
        {{"Q", 'Q', 6}, std::string("\x01\x02\x03\0\0\x03", 6), "binary 3"},
        {{"INULL", 'I', 4, 0, 0x02}, le32(5), "null"},
        {{"CNULL", 'C', 3, 0, 0x02}, "abc", "null"},
        {{"CKEPT", 'C', 3, 0, 0x02}, "abc", "text abc"},
        {{"_NullFlags", '0', 1}, "", "null"},
    };
    DbfBuilder b;
    b.version = 0x30;
    b.language = 0xC9;
    std::string record;
    for (const Case& c : cases) {
        b.fields.push_back(c.field);
        record += c.stored.substr(0, c.field.length) + std::string(c.field.length - std::min<std::size_t>(c.stored.size(), c.field.length), ' ');
    }
    // The bits in order: the lengths of VFULL (clear), VSHORT, VBAD and Q
    // (set), then INULL and CNULL (set) and CKEPT (clear).
    record.back() = 0x3E;
    b.records = {record};
    hyltest::TempDir dir;
    hyltest::write_file(dir.path("t.dbf"), b.build());
    const auto values = first_record(dir.path("t.dbf"));
    ASSERT_EQ(values.size(), std::size(cases));
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i].first, cases[i].want) << cases[i].field.name;
        EXPECT_EQ(values[i].second, cases[i].problem) << cases[i].field.name;
    }
}

// What check finds in tables of the new kinds, and what it refuses to read.
TEST(Check, FindsWhatTheNewFormatsHold) {
    const struct Case {
        const char* what;
        std::function<void(DbfBuilder&, hyltest::TempDir&)> make;
        std::set<std::string> want;
        std::string why = {};  // for a table not checked
    } cases[] = {
        {"a sound FoxPro table with its memo",
         [](DbfBuilder& b, hyltest::TempDir& d) {
             b.version = 0xF5, b.fields = {{"NOTE", 'M', 10, 0}}, b.records = {"         1"};
             std::string fox(64, '\0');
             fox[7] = 64;
             hyltest::write_file(d.path("t.fpt"), bytes(fox + be32(1) + be32(2) + "ok"));
         },
         {}},
        {"a dBASE III table whose .dbt is missing",
         [](DbfBuilder& b, hyltest::TempDir&) { b.version = 0x83, b.fields = {{"NOTE", 'M', 10, 0}}, b.records = {"         1"}; },
         {"memo-missing"}},
        {"memos past the end, and not block numbers",
         [](DbfBuilder& b, hyltest::TempDir& d) {
             b.version = 0x83, b.fields = {{"NOTE", 'M', 10, 0}}, b.records = {"         7", "        x "};
             hyltest::write_file(d.path("t.dbt"), Bytes(600, 0));
         },
         {"memo-past-end", "not-a-block-number"}},
        {"text not in the code page, a bad date and time, a bad varchar",
         [](DbfBuilder& b, hyltest::TempDir&) {
             b.version = 0x30, b.language = 0xC9;
             b.fields = {{"C", 'C', 2}, {"T", 'T', 8}, {"V", 'V', 3}, {"_NullFlags", '0', 1}};
             b.records = {"\x98 " + le32(0) + le32(5) + std::string("ab\x07\x01", 4)};
         },
         {"bad-text", "not-a-date-time", "varchar-length"}},
    };
    for (const Case& c : cases) {
        hyltest::TempDir dir;
        DbfBuilder b;
        c.make(b, dir);
        Bytes table = b.build();
        hyltest::write_file(dir.path("t.dbf"), table);
        const CheckReport r = Check_Table(dir.path("t.dbf").c_str());
        EXPECT_EQ(r.why, c.why) << c.what;
        EXPECT_EQ(codes(r), c.want) << c.what;
    }
    // dBASE II: 16-byte descriptors from byte 8, a 16-bit count.
    hyltest::TempDir dir;
    Bytes old(8 + 16 + 1 + 12, ' ');
    old[0] = 0x02, old[1] = 1, old[2] = 0, old[6] = 6, old[7] = 0;
    std::copy_n("NAME\0\0\0\0\0\0\0C\x05", 13, old.begin() + 8);
    old[24] = 0x0D;
    hyltest::write_file(dir.path("old.dbf"), old);
    TableReader t;
    EXPECT_EQ(t.open(dir.path("old.dbf")), ReaderStatus::kOtherLayout);
    EXPECT_EQ(t.error(), "a dBASE II table (version byte 0x02, 16-byte field descriptors), which hyl does not read");
}

// dBASE 7 made byte by byte: the 68-byte header naming its language driver,
// 48-byte descriptors, field properties after the terminator, each type as
// dBASE 7 stores it (numbers big-endian, sorted by their bytes), and memo
// and binary entries in its .dbt.
TEST(Dbase7, EachTypeReadAsDbase7StoresIt) {
    auto be64 = [](double d) {
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        // What dBASE 7 sorts by: the sign bit flipped, every bit for a negative.
        bits = bits >> 63 ? ~bits : bits ^ (uint64_t{1} << 63);
        return be32(static_cast<uint32_t>(bits >> 32)) + be32(static_cast<uint32_t>(bits));
    };
    const std::string stamp_2020("\x42\xCC\xF9\x3A\xDD\x0E\x00\x00", 8);  // 2020-01-01 00:00
    std::string stamp_sorted = stamp_2020;
    stamp_sorted[0] = static_cast<char>(0xC2);
    const struct Case {
        std::string name;  // in code page 866
        char type;
        uint8_t length;
        std::string stored;
        std::string want;
    } cases[] = {
        {"\x88\x8C\x9F", 'C', 8, "\x8A\xAE\xE2\xF1\xAB   ", "text Котёл"},  // ИМЯ
        {"QTY", 'N', 6, "  -1.5", "decimal -1.5"},
        {"DAY", 'D', 8, "20240301", "date 2024-03-01"},
        {"OK", 'L', 1, "F", "false"},
        {"I", 'I', 4, be32(static_cast<uint32_t>(-7) ^ 0x80000000u), "int -7"},
        {"INONE", 'I', 4, std::string(4, '\0'), "null"},
        {"AUTO", '+', 4, be32(12 ^ 0x80000000u), "int 12"},
        {"ONEG", 'O', 8, be64(-2.5), "double -2.500000"},
        {"OPOS", 'O', 8, be64(1.0), "double 1.000000"},
        {"STAMP", '@', 8, stamp_2020, "time 2020-01-01T00:00:00"},
        {"SORTED", '@', 8, stamp_sorted, "time 2020-01-01T00:00:00"},
        {"NOTE", 'M', 10, "         1", "text Заметка"},
        {"PIC", 'B', 10, "         2", "binary 3"},
        {"NOMEMO", 'M', 10, std::string(10, ' '), "null"},
    };
    std::string descriptors, record = " ";
    for (const Case& c : cases) {
        std::string d = c.name;
        d.resize(32, '\0');
        d += c.type;
        d += static_cast<char>(c.length);
        d.resize(48, '\0');
        descriptors += d;
        record += c.stored;
    }
    const std::string properties(20, '\x01');  // what dBASE 7 keeps after the terminator
    const std::size_t header_length = 68 + descriptors.size() + 1 + properties.size();
    std::string head(68, '\0');
    head[0] = static_cast<char>(0x8C);
    head.replace(4, 4, le32(1));
    head[8] = static_cast<char>(header_length & 0xFF), head[9] = static_cast<char>(header_length >> 8);
    head[10] = static_cast<char>(record.size() & 0xFF), head[11] = static_cast<char>(record.size() >> 8);
    head.replace(32, 8, "DB866RU0");
    hyltest::TempDir dir;
    hyltest::write_file(dir.path("t.dbf"), bytes(head + descriptors + "\r" + properties + record + "\x1A"));
    std::string dbt(512, '\0');
    dbt.replace(20, 2, "\x00\x02", 2);  // 512-byte blocks
    dbt += std::string("\xFF\xFF\x08\x00", 4) + le32(8 + 7) + "\x87\xA0\xAC\xA5\xE2\xAA\xA0";  // Заметка
    dbt.resize(1024, ' ');
    dbt += std::string("\xFF\xFF\x08\x00", 4) + le32(8 + 3) + std::string("\x01\x02\x03", 3);
    hyltest::write_file(dir.path("t.dbt"), bytes(dbt));

    const auto values = first_record(dir.path("t.dbf"));
    ASSERT_EQ(values.size(), std::size(cases));
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i].first, cases[i].want) << i;
        EXPECT_EQ(values[i].second, ValueProblem::kNone) << i;
    }
    TableReader t;
    ASSERT_EQ(t.open(dir.path("t.dbf")), ReaderStatus::kOpened);
    EXPECT_EQ(t.format(), TableFormat::kDbase7);
    EXPECT_EQ(t.fields()[0].name, "ИМЯ");
    EXPECT_EQ(t.code_page().describe(), "code page 866 (language driver DB866RU0)");
    const CheckReport r = Check_Table(dir.path("t.dbf").c_str());
    for (const Finding& f : r.findings) ADD_FAILURE() << f.message;
    EXPECT_TRUE(r.checked()) << r.why;
}

// A header whose record length is a byte short of its fields, as one writer
// leaves it: the file's length shows the records laid by the fields, so they
// are read so, check names the header, and repair mends it after a backup.
TEST(Layout, RecordsReadAsTheyLieWhenTheHeaderIsWrong) {
    DbfBuilder b;
    b.fields = {{"NAME", 'C', 5}, {"QTY", 'N', 3}};
    b.records = {"alpha  1", "beta  22", "gamma333"};
    b.eof_byte = true;
    Bytes table = b.build();
    table[10] = 8;  // the fields make 9
    hyltest::TempDir dir;
    const std::string path = dir.path("t.dbf");
    hyltest::write_file(path, table);
    TableReader t;
    ASSERT_EQ(t.open(path), ReaderStatus::kOpened);
    std::vector<std::string> names;
    t.read_column(0, 0, t.record_count(), [&](int64_t, const Value& v) { names.push_back(v.text); });
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(codes(Check_Table(path.c_str())), std::set<std::string>{"record-length"});
    t.close();

    const RepairResult mended = Repair_Table(path.c_str(), {});
    EXPECT_EQ(mended.outcome, RepairOutcome::kMended);
    ASSERT_EQ(mended.actions.size(), 2u);
    EXPECT_EQ(mended.actions[1], "set the record length from 8 to 9, as the records lie in the file");
    Bytes after = hyltest::read_file(path), backup = hyltest::read_file(path + ".bak");
    EXPECT_EQ(backup, table);
    table[10] = 9;
    EXPECT_EQ(after, table);
}
