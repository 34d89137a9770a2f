// An in-memory platform for the fuzz targets.
//
// Every file the library opens, creates, reads, writes or sizes is a byte
// buffer kept by its path, behind the same table of operations as real
// files and with the same share modes: an open whose access or sharing
// conflicts with another opener's is refused with a sharing violation (32),
// as a create or a size change by path is.  Message boxes, screen lines and
// beeps are dropped, pauses are not waited, no key is ever down, and the
// clock stands at 2010-07-15 12:00 UTC in a Moscow-style zone with summer
// time, so that a run depends on its input alone.  Memory blocks and the
// zone's rules are the real ones.
//
// A run's input may begin with a fault plan: another process that holds a
// file for some opens, a read that comes back short or fails, a write that
// stops half way, a memory block that cannot be had.  No file grows past
// 64 MiB; a write or length beyond fails as on a full disk.
//
// For power-cut tests each file has, beside its bytes as programs see them,
// what its disk holds, in the manner of SQLite's crash tests: a write or a
// length change alters the bytes at once and waits, pending, until
// file_sync puts that file's pending changes on the disk; a create, a rename
// or a removal alters the names at once and waits until folder_sync puts
// that folder's names on the disk.  A file put in place (put_file) is on the
// disk whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace hylfuzz {

// What goes wrong in one run.  Counts are 1-based; 0 means never.
struct FaultPlan {
    // The open by path (opens, creates and size changes, every attempt
    // counted) at which another process takes the file it names.
    uint8_t held_at_open = 0;
    // Bits 0-2: that process's access and sharing, one of kHolderModes;
    // bits 3-7: the opens it keeps the file for, less one.
    uint8_t holder = 0;
    // The read (positioned or not) that delivers fewer bytes than asked.
    uint8_t short_read_at = 0;
    // How many it delivers, modulo the count asked; 0xFF: the read fails.
    uint8_t short_read_bytes = 0;
    // The write, length change or sync that stops half way and fails.
    uint8_t failed_write_at = 0;
    // The memory block that cannot be had.
    uint8_t failed_alloc_at = 0;
};
constexpr std::size_t kFaultPlanBytes = 6;

// 16-bit-style open flags another process may hold a file with.
constexpr int32_t kHolderModes[8] = {0x40, 0x42, 0x22, 0x20, 0x12, 0x32, 0x41, 0x10};

// The plan in the input's first kFaultPlanBytes bytes, which are taken off
// the input; a shorter input plans fewer faults.
FaultPlan take_fault_plan(const uint8_t*& data, std::size_t& size);

// Installs the memory platform, once per process, and loads the library.
void install_memory_platform();
// Starts a run: the library is unloaded and loaded again (so nothing of the
// previous run is left in it), every file and handle is forgotten, and the
// plan is armed.
void start_run(const FaultPlan& plan);
// Forgets every file and handle and arms the plan, leaving the library and
// the platform in force alone.
void reset_files(const FaultPlan& plan);
// Puts a file in place; an existing one is replaced.
void put_file(const std::string& path, const uint8_t* data, std::size_t size);
// The bytes of a file; null when there is none.
const std::vector<uint8_t>* file_bytes(const std::string& path);

// The names of the files there are, in the order they were made.
std::vector<std::string> file_names();

// The calls that change or flush files (writes, length changes, syncs,
// creates, renames, removals, folder syncs) since the files were reset.
int disk_calls();
// The power goes just before disk call N (1-based; 0: never): that call and
// every one after it fail and change nothing, as on a machine that stopped.
void cut_power_before(int call);
// The machine starts again after its power went (at the moment it is
// called, if it has not gone before): of each file's pending changes a
// random subset reaches the disk, in a random order, some writes only in
// part (a prefix of them, or some of the 512-byte sectors they cover), the
// rest is lost; of the names not flushed the first few stay, in the order
// they were made (as a journaling file system keeps them), the rest are
// lost.  Deterministic from SEED: seed 0 keeps everything (only the program
// stopped), seed 1 nothing that was not flushed.  Handles are forgotten;
// the files are what the disk holds, all of it flushed.  False when nothing
// was pending, so that every seed would leave the same disk.
bool restart_after_power_cut(uint32_t seed);

// The memory platform's operations, for comparing them with the real ones.
const hyl::PlatformOps& memory_platform();

}  // namespace hylfuzz
