// The writer: random tables of every format written, changed, deleted from
// and packed, each step read back by the reader value for value and held
// sound by check; what it refuses; and an edit and a pack cut short,
// settled by repair.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>

#include "tables/check.h"
#include "tables/interrupted.h"
#include "tables/repair.h"
#include "tables/table.h"
#include "tests/fake_platform.h"
#include "tests/shown_value.h"
#include "writing/pack.h"
#include "writing/table_writer.h"

using namespace hyl;
using hyltest::shown;

namespace {

TableField field(const char* name, char type, int length, int decimals = 0, bool nullable = false) {
    TableField f;
    f.name = name, f.type = type, f.length = length, f.decimals = decimals, f.nullable = nullable;
    return f;
}


// A random value for F, and how the reader shows it once written.
std::pair<Value, std::string> random_value(const TableField& f, std::mt19937& random, const std::string& letters) {
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    Value v;
    if (pick(6) == 0) {
        // No value: null where the field may be; else what its bytes say
        // when they hold none (Visual FoxPro's numbers are then 0).
        static const std::map<char, std::string> kNone = {{'C', "text "}, {'V', "text "}, {'Q', "binary 0"},
                                                          {'I', "int 0"}, {'B', "double 0.000000"}, {'Y', "decimal 0.0000"}};
        const auto none = kNone.find(f.type);
        return {v, f.nullable || none == kNone.end() ? "null" : none->second};
    }
    auto text = [&](int most) {
        std::string s;
        for (int n = 1 + pick(most); n > 0; --n) s += letters.substr(static_cast<std::size_t>(pick(static_cast<int>(letters.size() / 2))) * 2, 2);
        return s;
    };
    switch (f.type) {
        case 'C': case 'V': v.kind = ValueKind::kString, v.text = text(f.length / 2); return {v, "text " + v.text};
        case 'M': v.kind = ValueKind::kString, v.text = text(300) + "\n" + text(20); return {v, "text " + v.text};
        case 'N': {
            v.kind = ValueKind::kString;
            v.text = std::to_string(pick(200000) - 100000) + "." + std::to_string(10 + pick(90));
            return {v, "decimal " + v.text};
        }
        case 'D': v.kind = ValueKind::kDate, v.integer = pick(40000) - 10000; return {v, "date " + Date_Format(v.integer)};
        case 'L': v.kind = ValueKind::kBool, v.boolean = pick(2); return {v, v.boolean ? "true" : "false"};
        case 'I': v.kind = ValueKind::kInteger, v.integer = pick(2000000) - 1000000; return {v, "int " + std::to_string(v.integer)};
        case 'B': v.kind = ValueKind::kDouble, v.real = (pick(2000) - 1000) / 8.0; return {v, "double " + std::to_string(v.real)};
        case 'Y': v.kind = ValueKind::kString, v.text = "-12." + std::to_string(1000 + pick(9000)); return {v, "decimal " + v.text};
        case 'T': {
            v.kind = ValueKind::kDateTime;
            v.integer = (pick(40000) - 10000) * kDayMilliseconds + pick(86400) * 1000;
            return {v, "time " + DateTime_Format(v.integer)};
        }
        default: v.kind = ValueKind::kBinary, v.text = std::string(static_cast<std::size_t>(1 + pick(f.type == 'Q' ? 9 : 900)), '\x07');
            return {v, "binary " + std::to_string(v.text.size())};
    }
}

std::vector<std::vector<std::string>> read_back(const std::string& path, std::vector<bool>* deleted = nullptr) {
    TableReader t;
    EXPECT_EQ(t.open(path), ReaderStatus::kOpened) << t.error();
    std::vector<std::vector<std::string>> out;
    t.for_each_batch(0, t.record_count(), [&](const RecordBatch& batch) {
        Value v;
        for (int64_t k = 0; k < batch.size(); ++k) {
            out.emplace_back();
            if (deleted) deleted->push_back(batch.deleted(k));
            for (int f = 0; f < t.field_count(); ++f)
                if (!t.fields()[static_cast<std::size_t>(f)].hidden) {
                    EXPECT_EQ(batch.value(k, f, v), ValueProblem::kNone) << path << " field " << f;
                    out.back().push_back(shown(v));
                }
        }
        return true;
    });
    return out;
}

void expect_sound(const std::string& path, const char* when) {
    const CheckReport r = Check_Table(path.c_str());
    EXPECT_TRUE(r.checked()) << when << ": " << r.why;
    for (const Finding& f : r.findings) ADD_FAILURE() << when << ": " << f.message;
}

}  // namespace

// Each format in a code page of its own: records appended in two batches,
// changed (memo text too), deleted and undeleted, then packed; read back
// after each step as they were written, and check finds nothing.
TEST(Writing, EveryFormatWrittenChangedAndPackedReadsBack) {
    const struct Case {
        TableFormat format;
        int codepage;
        std::string letters;  // two bytes of UTF-8 a character
        std::string types;
    } cases[] = {
        {TableFormat::kDbase3, 866, "ЖуКётЁл", "CNDLM"},
        {TableFormat::kDbase4, 1250, "ěščřžýá", "CNDLM"},
        {TableFormat::kFoxPro, 1251, "ЖуКётЁл", "CNDLM"},
        {TableFormat::kVisualFoxPro, kCodePageUtf8, "ěščřžýá", "CNDLMIBYTVQG"},
    };
    std::mt19937 random(20261208);
    for (const Case& c : cases) {
        SCOPED_TRACE(Format_Name(c.format));
        hyltest::TempDir dir;
        const std::string path = dir.path("t.dbf");
        NewTable table;
        table.format = c.format, table.codepage = c.codepage;
        for (char type : c.types) {
            int length = type == 'C' || type == 'V' ? 20 : type == 'N' ? 12 : type == 'Q' ? 10 : 0;
            std::string problem;
            ASSERT_TRUE(Field_CheckDefinition(type, &length, type == 'N' ? 2 : type == 'Y' ? 4 : 0, c.format, &problem)) << problem;
            const std::string name = std::string("F") + type;
            table.fields.push_back(field(name.c_str(), type, length, type == 'N' ? 2 : type == 'Y' ? 4 : 0,
                                         c.format == TableFormat::kVisualFoxPro && (type == 'C' || type == 'I')));
        }
        ASSERT_TRUE(TableWriter::create(path, table).ok());
        std::vector<std::vector<std::string>> want;
        TableWriter w;
        for (int batch = 0; batch < 2; ++batch) {
            ASSERT_TRUE(w.open(path).ok());
            std::vector<RecordDraft> drafts;
            for (int r = 0; r < 30; ++r) {
                std::vector<Value> values;
                want.emplace_back();
                for (const TableField& f : table.fields) {
                    auto [value, shows] = random_value(f, random, c.letters);
                    values.push_back(value);
                    want.back().push_back(shows);
                }
                std::vector<const Value*> given;
                for (const Value& v : values) given.push_back(&v);
                std::vector<FieldProblem> problems;
                drafts.emplace_back();
                ASSERT_TRUE(w.draft(given, {}, &drafts.back(), &problems)) << problems[0].what;
            }
            ASSERT_TRUE(w.append(drafts).ok());
            w.close();
        }
        EXPECT_EQ(read_back(path), want);
        expect_sound(path, "appended");

        // Changes of every third record, memo text among them; then deletes.
        ASSERT_TRUE(w.open(path).ok());
        std::vector<RecordDraft> changes;
        for (int r = 0; r < 60; r += 3) {
            std::vector<std::pair<Value, std::string>> made;
            std::vector<std::pair<int32_t, const Value*>> given;
            for (int f : {0, 4}) made.push_back(random_value(table.fields[static_cast<std::size_t>(f)], random, c.letters));
            given = {{0, &made[0].first}, {4, &made[1].first}};
            std::vector<FieldProblem> problems;
            changes.emplace_back();
            ASSERT_TRUE(w.draft_change(r, given, {}, &changes.back(), &problems));
            want[static_cast<std::size_t>(r)][0] = made[0].second;
            want[static_cast<std::size_t>(r)][4] = made[1].second;
        }
        ASSERT_TRUE(w.update(changes).ok());
        ASSERT_TRUE(w.set_deleted({1, 2, 5, 8, 59}, true).ok());
        ASSERT_TRUE(w.set_deleted({5}, false).ok());
        EXPECT_EQ(w.set_deleted({60}, true).status, WriteStatus::kRefused);
        w.close();
        std::vector<bool> deleted;
        EXPECT_EQ(read_back(path, &deleted), want);
        EXPECT_EQ(std::count(deleted.begin(), deleted.end(), true), 4);
        EXPECT_FALSE(File_Exists(Table_JournalPath(path)));
        expect_sound(path, "changed");

        PackReport report;
        ASSERT_TRUE(Table_Pack(path, {}, &report).ok());
        EXPECT_EQ(report.kept, 56);
        EXPECT_EQ(report.removed, 4);
        EXPECT_LT(report.memo_after, report.memo_before);  // the entries changed and deleted are left behind
        EXPECT_EQ(report.backups.size(), 2u);
        std::vector<std::vector<std::string>> kept;
        for (std::size_t r = 0; r < want.size(); ++r)
            if (!deleted[r]) kept.push_back(want[r]);
        EXPECT_EQ(read_back(path), kept);
        expect_sound(path, "packed");
        EXPECT_EQ(Table_Pack(path, {}, &report).status, WriteStatus::kRefused);  // its backups are there
    }
}

// What the writer refuses, and what an edit or a pack cut short leaves,
// settled by repair.
TEST(Writing, RefusesWhatItMustAndRepairSettlesWhatWasCutShort) {
    hyltest::TempDir dir;
    const std::string path = dir.path("t.dbf");
    NewTable table;
    table.format = TableFormat::kFoxPro;
    table.codepage = 866;
    table.fields = {field("NAME", 'C', 8), field("NOTE", 'M', 10)};
    ASSERT_TRUE(TableWriter::create(path, table).ok());
    auto append = [&](const std::vector<std::string>& names) {
        TableWriter w;
        ASSERT_TRUE(w.open(path).ok());
        std::vector<RecordDraft> drafts;
        for (const std::string& name : names) {
            Value v, note;
            v.kind = note.kind = ValueKind::kString, v.text = name, note.text = name + " note";
            std::vector<FieldProblem> problems;
            drafts.emplace_back();
            ASSERT_TRUE(w.draft({&v, &note}, {}, &drafts.back(), &problems));
        }
        ASSERT_TRUE(w.append(drafts).ok());
    };
    append({"one", "two", "three"});

    // Values refused by their rules, and a table in use.
    TableWriter w;
    ASSERT_TRUE(w.open(path).ok());
    Value bad;
    bad.kind = ValueKind::kString, bad.text = "«q»";
    RecordDraft draft;
    std::vector<FieldProblem> problems;
    EXPECT_FALSE(w.draft({&bad}, {}, &draft, &problems));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].what, "'«q»': '«' (U+00AB) has no place in code page 866");
    TableWriter second;
    EXPECT_EQ(second.open(path).status, WriteStatus::kInUse);
    w.close();
    int length = 0;
    std::string problem;
    EXPECT_FALSE(Field_CheckDefinition('Y', &length, 4, TableFormat::kDbase4, &problem));
    EXPECT_EQ(problem, "type Y: Visual FoxPro has it, dBASE IV does not (--format vfp)");

    // A production index: refused, or its flag cleared when told.
    std::vector<uint8_t> bytes = hyltest::read_file(path);
    bytes[28] |= 0x01;
    hyltest::write_file(path, bytes);
    const WriteOutcome refused = w.open(path);
    EXPECT_EQ(refused.status, WriteStatus::kRefused);
    EXPECT_NE(refused.why.find("t.cdx"), std::string::npos) << refused.why;
    ASSERT_TRUE(w.open(path, {"", true}).ok());
    EXPECT_NE(w.notice().find("t.cdx no longer matches"), std::string::npos);
    w.close();
    EXPECT_EQ(hyltest::read_file(path)[28] & 0x01, 0);

    // An edit cut short after its journal was on the disk: check names it,
    // repair puts the records back as they were.
    const auto before = read_back(path);
    {
        TableReader t;
        ASSERT_EQ(t.open(path), ReaderStatus::kOpened);
        const int64_t at = t.scan().record_position(1);
        bytes = hyltest::read_file(path);
        const std::string old(bytes.begin() + at, bytes.begin() + at + t.scan().record_length());
        const std::string journal = Journal_Make(t.scan().record_length(), {{1, 0, old}});
        hyltest::write_file(Table_JournalPath(path), std::vector<uint8_t>(journal.begin(), journal.end()));
        std::fill_n(bytes.begin() + at + 1, 4, 'X');
    }
    hyltest::write_file(path, bytes);
    std::set<std::string> codes;
    for (const Finding& f : Check_Table(path.c_str()).findings) codes.insert(Check_ProblemCode(f.problem));
    EXPECT_EQ(codes, std::set<std::string>{"edit-cut-short"});
    EXPECT_EQ(w.open(path).status, WriteStatus::kRefused);
    RepairResult mended = Repair_Table(path.c_str(), {});
    EXPECT_EQ(mended.outcome, RepairOutcome::kMended) << mended.why;
    EXPECT_EQ(read_back(path), before);
    EXPECT_FALSE(File_Exists(Table_JournalPath(path)));
    std::remove((path + ".bak").c_str());

    // A pack cut short between its renames: the memo file packed, the table
    // not; repair finishes it.
    ASSERT_TRUE(w.open(path).ok());
    ASSERT_TRUE(w.set_deleted({0}, true).ok());
    w.close();
    hyltest::FakePlatform fake;
    int renames = 0;
    PlatformOps ops = platform();
    static std::function<int(const char*, const char*)> rename_once;
    rename_once = [&](const char* from, const char* to) { return ++renames == 2 ? 0 : native_platform().file_rename(from, to); };
    ops.file_rename = [](const char* from, const char* to) { return rename_once(from, to); };
    const PlatformOps previous = install_platform(ops);
    PackReport report;
    PackOptions no_backup;
    no_backup.backup = false;
    const WriteOutcome cut = Table_Pack(path, no_backup, &report);
    install_platform(previous);
    EXPECT_EQ(cut.status, WriteStatus::kFailed);
    codes.clear();
    for (const Finding& f : Check_Table(path.c_str()).findings) codes.insert(Check_ProblemCode(f.problem));
    EXPECT_TRUE(codes.count("pack-cut-short")) << cut.why;
    mended = Repair_Table(path.c_str(), {});
    EXPECT_EQ(mended.outcome, RepairOutcome::kMended) << mended.why;
    EXPECT_EQ(read_back(path), std::vector<std::vector<std::string>>(before.begin() + 1, before.end()));
}
