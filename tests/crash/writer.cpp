// A writer killed at any moment, for the crash test (writes.py): it writes
// through the library's writer, as the tool and the Python package do, and
// says on standard output what was acknowledged.
//
//   writer TABLE create FORMAT   a table of ID C(6), NAME C(60), NOTE M in
//                                dbase3, dbase4, foxpro or vfp
//   writer TABLE fill N          N records appended, every third deleted
//   writer TABLE append          batches of one to three records appended
//                                after the last, record i holding i, its name
//                                and note of generation 0; after each one
//                                acknowledged, the number of records (4 bytes,
//                                little-endian)
//   writer TABLE update G        every record given the name and note of
//                                generation G+1, then G+2, ..., each one update;
//                                after each acknowledged, its generation (4 bytes)
//   writer TABLE pack            "packing" on a line, then the pack, then "packed"
//   writer TABLE check           the codes of what check finds, one a line
//   writer TABLE repair          repair without a backup; exit 0 when the
//                                table is sound afterwards
//   writer TABLE dump            each record on a line: its deletion flag,
//                                then its values, separated by tabs
// The names and notes are those writes.py makes: name(i, g) = "n<i>g<g>",
// note(i, g) as note() below.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "tables/check.h"
#include "tables/repair.h"
#include "tables/table.h"
#include "writing/pack.h"
#include "writing/table_writer.h"

using namespace hyl;

namespace {

std::string name(int64_t id, int64_t generation) { return "n" + std::to_string(id) + "g" + std::to_string(generation); }

// Texts of many lengths, up to several memo blocks.
std::string note(int64_t id, int64_t generation) {
    std::string s = "note " + std::to_string(id) + "/" + std::to_string(generation);
    const std::size_t length = 10 + static_cast<std::size_t>(id * 211 + generation * 97) % 1500;
    while (s.size() < length) s += " " + std::to_string(s.size());
    return s;
}

Value text(const std::string& s) {
    Value v;
    v.kind = ValueKind::kString, v.text = s;
    return v;
}

bool ack(int64_t n) {
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(static_cast<uint64_t>(n) >> (8 * i));
    return write(1, bytes, 4) == 4;
}

int fail(const std::string& what) {
    std::fprintf(stderr, "writer: %s\n", what.c_str());
    return 1;
}

WriteOutcome append(TableWriter& w, int64_t first, int64_t count) {
    std::vector<RecordDraft> drafts;
    for (int64_t id = first; id < first + count; ++id) {
        const Value values[] = {text(std::to_string(id)), text(name(id, 0)), text(note(id, 0))};
        std::vector<FieldProblem> problems;
        drafts.emplace_back();
        if (!w.draft({&values[0], &values[1], &values[2]}, {}, &drafts.back(), &problems))
            return {WriteStatus::kRefused, problems.empty() ? "draft" : problems[0].what};
    }
    return w.append(drafts);
}

int create(const std::string& path, const std::string& format_name) {
    NewTable table;
    const std::pair<const char*, TableFormat> formats[] = {{"dbase3", TableFormat::kDbase3},
                                                           {"dbase4", TableFormat::kDbase4},
                                                           {"foxpro", TableFormat::kFoxPro},
                                                           {"vfp", TableFormat::kVisualFoxPro}};
    for (const auto& [n, f] : formats)
        if (format_name == n) table.format = f;
    for (const auto& [field, type, length] : {std::tuple{"ID", 'C', 6}, {"NAME", 'C', 60}, {"NOTE", 'M', 0}}) {
        table.fields.emplace_back();
        table.fields.back().name = field, table.fields.back().type = type, table.fields.back().length = length;
        std::string problem;
        if (!Field_CheckDefinition(type, &table.fields.back().length, 0, table.format, &problem)) return fail(problem);
    }
    const WriteOutcome made = TableWriter::create(path, table);
    return made.ok() ? 0 : fail(made.why);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return fail("usage: writer TABLE create|fill|append|update|pack|check|repair|dump [N]");
    const std::string path = argv[1], command = argv[2];
    const int64_t n = argc > 3 ? std::atoll(argv[3]) : 0;
    if (command == "create") return create(path, argc > 3 ? argv[3] : "dbase3");
    if (command == "pack") {
        std::printf("packing\n");
        std::fflush(stdout);
        PackReport report;
        const WriteOutcome packed = Table_Pack(path, {}, &report);
        if (!packed.ok()) return fail(packed.why);
        std::printf("packed\n");
        return 0;
    }
    if (command == "check") {
        for (const Finding& f : Check_Table(path.c_str()).findings) std::printf("%s\n", Check_ProblemCode(f.problem));
        return 0;
    }
    if (command == "repair") {
        RepairOptions options;
        options.backup = false;
        const RepairResult r = Repair_Table(path.c_str(), options);
        for (const std::string& a : r.actions) std::printf("%s\n", a.c_str());
        return r.outcome == RepairOutcome::kSound || r.outcome == RepairOutcome::kMended ? 0 : fail("not sound: " + r.why);
    }
    if (command == "dump") {
        TableReader t;
        if (t.open(path) != ReaderStatus::kOpened) return fail(t.error());
        t.for_each_batch(0, t.record_count(), [&](const RecordBatch& batch) {
            Value v;
            for (int64_t k = 0; k < batch.size(); ++k) {
                std::string line = batch.deleted(k) ? "*" : " ";
                for (int f = 0; f < 3; ++f) line += "\t" + (batch.value(k, f, v) == ValueProblem::kNone ? v.text : "(unreadable)");
                std::printf("%s\n", line.c_str());
            }
            return true;
        });
        return 0;
    }
    TableWriter w;
    if (const WriteOutcome opened = w.open(path); !opened.ok()) return fail(opened.why);
    if (command == "fill") {
        std::vector<int64_t> third;
        for (int64_t id = 0; id < n; id += 3) third.push_back(id);
        const WriteOutcome done = append(w, 0, n);
        const WriteOutcome deleted = done.ok() ? w.set_deleted(third, true) : done;
        return deleted.ok() ? 0 : fail(deleted.why);
    }
    if (command == "append")
        for (int64_t batch = 0;; ++batch) {
            const int64_t first = w.record_count(), count = 1 + batch % 3;
            if (const WriteOutcome done = append(w, first, count); !done.ok()) return fail(done.why);
            if (!ack(first + count)) return 1;
        }
    if (command == "update")
        for (int64_t generation = n + 1;; ++generation) {
            std::vector<RecordDraft> drafts;
            for (int64_t id = 0; id < w.record_count(); ++id) {
                const Value given[] = {text(name(id, generation)), text(note(id, generation))};
                std::vector<FieldProblem> problems;
                drafts.emplace_back();
                if (!w.draft_change(id, {{1, &given[0]}, {2, &given[1]}}, {}, &drafts.back(), &problems))
                    return fail(problems.empty() ? "draft" : problems[0].what);
            }
            if (const WriteOutcome done = w.update(drafts); !done.ok()) return fail(done.why);
            if (!ack(generation)) return 1;
        }
    return fail("no such command: " + command);
}
