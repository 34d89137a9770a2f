// A table read on several threads.  Records are all of one length, so the
// records of a table split into ranges that are read independently: each
// thread reads its ranges through the snapshot (positioned reads) with a
// TableCursor of its own (tables/table.h), and the caller takes the ranges
// back on its own thread in the order of the records, so what it makes of
// them (dump's text, check's tallies, the Python package's columns) is what
// one thread would have made.  A small table is read on one thread.
//
//   const RecordRanges ranges = Split_Ranges(table, 0, table.record_count());
//   const int threads = Split_Threads(ranges, asked);
//   std::vector<Out> slots(Split_Window(threads));   // what a range leaves for the caller
//   Split_Run(ranges.count(), threads,
//             [&](int64_t range, int slot, int worker) { ...fill slots[slot] from ranges.first_of(range)...; return true; },
//             [&](int64_t range, int slot) { ...use slots[slot], in order...; return true; });
#pragma once

#include <cstdint>
#include <functional>

namespace hyl {

class TableReader;

// The records FIRST .. END - 1 cut into ranges of PER_RANGE records (the
// last one shorter).
struct RecordRanges {
    int64_t first = 0;
    int64_t end = 0;
    int64_t per_range = 1;

    int64_t count() const { return end > first ? (end - first + per_range - 1) / per_range : 0; }
    int64_t first_of(int64_t range) const { return first + range * per_range; }
    int64_t end_of(int64_t range) const { return first_of(range) + per_range < end ? first_of(range) + per_range : end; }
};

// The records FIRST .. END - 1 of TABLE in ranges of about half a megabyte
// of records, or of fewer records when the table has memo fields (their text
// can make a record's output long, and a range's output is held whole).
RecordRanges Split_Ranges(const TableReader& table, int64_t first, int64_t end);
// The same with PER_RANGE records a range (at least 1).
RecordRanges Split_Ranges(int64_t first, int64_t end, int64_t per_range);

// The threads this machine runs at once, at least 1.
int Split_MachineThreads();
// The threads worth reading RANGES on when THREADS are asked for (0 or
// less: the machine's): never more than there are ranges, so a table of
// one range stays on the calling thread.
int Split_Threads(const RecordRanges& ranges, int threads);
// How many ranges are worked on or wait for the caller at most: the slots
// the caller keeps for them.
int Split_Window(int threads);

// Runs WORK(range, slot, worker) for the ranges 0 .. COUNT - 1 on THREADS
// threads, the calling thread among them (WORKER is 0 .. THREADS - 1, one
// thread's own, 0 the calling thread's; SLOT is the range's place in the
// window, range % Split_Window(THREADS)), and DONE(range, slot) on the
// calling thread for each range in turn, once its work is done; a slot is
// not given to another range before DONE of its range returns.  The
// calling thread works on a range whenever the next one for DONE is not
// ready yet.
// WORK or DONE returning false stops the run: ranges already begun are
// finished, DONE is called for every range before the first whose work
// failed, and Split_Run returns false.
bool Split_Run(int64_t count, int threads, const std::function<bool(int64_t range, int slot, int worker)>& work,
               const std::function<bool(int64_t range, int slot)>& done);

}  // namespace hyl
