// Tables through the real DLL: create, define, append, close, read back;
// a real sharing violation; the code-page tables against the system's own.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/win32/check.h"
#include "tests/win32/host.h"

namespace host {
namespace {

using Api = TableApi;

// "Котёл" and "Цех №5" in Windows-1251.
const char kBoiler[] = "\xCA\xEE\xF2\xB8\xEB";
const char kBoilerOem[] = "\x8A\xAE\xE2\xF1\xAB";
const char kName[] = "\xD6\xE5\xF5";  // Цех

void create_append_read_back() {
    Api api;
    std::string path = work_path("made.dbf");
    ok(api.create(3, path.c_str()) == 1, "create failed");
    ok(read_bytes(path).size() == 32, "a new table should be 32 bytes, got %u",
       static_cast<unsigned>(read_bytes(path).size()));
    ok(api.define(0, 10, kName, "C", 0) == 1, "field 0");
    ok(api.define(1, 8, "QTY", "N", 2) == 1, "field 1");
    ok(api.define(2, 8, "DAY", "D", 0) == 1, "field 2");
    ok(api.define(3, 8, "NO", "C", 0) == 0, "a fourth field of three was accepted");
    std::vector<uint8_t> bytes = read_bytes(path);
    ok(bytes.size() == 129 && bytes[128] == 0x0D, "after the fields: %u bytes",
       static_cast<unsigned>(bytes.size()));
    ok(bytes.size() > 40 && std::memcmp(&bytes[32], "\x96\xA5\xE5", 3) == 0, "name not stored in 866");
    ok(api.open_append(path.c_str()) == 1, "open for append failed");
    const char* rows[][3] = {{kBoilerOem, "   12.50", "20100325"}, {"two", "-3", "19991231"}};
    for (auto& row : rows) {
        for (int f = 0; f < 3; ++f) api.put(row[f], f);
        ok(api.append() == 1, "append failed");
    }
    ok(api.records() == 2, "records in memory: %d", api.records());
    ok(read_bytes(path)[4] == 2, "each append counts its record on disk: got %d", read_bytes(path)[4]);
    ok(api.close() == 1, "close");
    bytes = read_bytes(path);
    ok(bytes[4] == 2 && bytes.size() == 129 + 2 * 27, "after close: count %d, %u bytes", bytes[4],
       static_cast<unsigned>(bytes.size()));

    ok(api.open_read(path.c_str()) == 1, "open for read failed");
    ok(api.records() == 2 && api.fields() == 3, "records %d fields %d", api.records(), api.fields());
    ok(std::strcmp(api.name(0), kName) == 0, "name 0: got %s", api.name(0));
    ok(std::strcmp(api.type(1), "N") == 0 && api.length(1) == 8 && api.decimals(1) == 2, "field 1 shape");
    ok(std::strcmp(api.text(0, 0), kBoiler) == 0, "text 0,0: got %s", api.text(0, 0));
    ok(std::strcmp(api.text(0, 1), "   12.50") == 0, "text 0,1: got '%s'", api.text(0, 1));
    ok(api.number(0, 1) == 12.5, "number 0,1: got %g", api.number(0, 1));
    ok(api.number(1, 1) == -3.0, "number 1,1: got %g", api.number(1, 1));
    ok(std::strcmp(api.text(2, 0), "") == 0, "past the last record: got %s", api.text(2, 0));
    ok(std::strcmp(api.text(-1, 0), "") == 0, "before the first record: got %s", api.text(-1, 0));
    const char* a = api.text(0, 0);
    const char* b = api.text(1, 0);
    ok(a == b && std::strcmp(a, "two") == 0, "the text buffer is shared");
    api.close();
    ok(log_entries().empty(), "unexpected messages: %u", static_cast<unsigned>(log_entries().size()));
}

// A Visual FoxPro table: 263 bytes after the terminator, and code page 866
// marked 0x26 as dBASE IV and Visual FoxPro mark it.
void foreign_header() {
    Api api;
    std::vector<uint8_t> bytes(32 + 32 + 1 + 263, 0);
    bytes[0] = 0x30;
    bytes[4] = 1;
    bytes[8] = static_cast<uint8_t>(bytes.size() & 0xFF);
    bytes[9] = static_cast<uint8_t>(bytes.size() >> 8);
    bytes[10] = 4;
    bytes[29] = 0x26;
    std::memcpy(&bytes[32], "\x8A\xAE\xA4", 3);  // "Код" in 866
    bytes[32 + 11] = 'C';
    bytes[32 + 16] = 3;
    bytes[64] = 0x0D;
    for (uint8_t b : {0x20, 0x8A, 0xAE, 0xA4}) bytes.push_back(b);
    std::string path = work_path("vfp.dbf");
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!ok(f != nullptr, "cannot write %s", path.c_str())) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    ok(api.open_read(path.c_str()) == 1, "open failed");
    ok(api.fields() == 1, "fields: got %d, expected the 1 before the terminator", api.fields());
    ok(std::strcmp(api.name(0), "\xCA\xEE\xE4") == 0, "name: got %s", api.name(0));
    ok(std::strcmp(api.text(0, 0), "\xCA\xEE\xE4") == 0, "text: got %s", api.text(0, 0));
    api.close();
}

// Numbers read from field texts, and a refused long path that leaves the
// table last named to be reopened by a null path.
void numbers_and_paths() {
    Api api;
    struct Case {
        const char* stored;  // code page 866
        double number;
        const char* shown;   // in failure lines, which stay ASCII
    } cases[] = {
        {"12.5", 12.5, "12.5"}, {".5", 0.5, ".5"},  {"-.5", -0.5, "-.5"}, {"  +.25", 0.25, "  +.25"},
        {"abc7x", 7, "abc7x"},
        // After a letter a point ends an abbreviation: the number is what follows.
        {"No.7", 7, "No.7"}, {"\xA4.12", 12, "(Cyrillic de).12"}, {"v.1.5", 1.5, "v.1.5"}, {"x.y5", 5, "x.y5"},
    };
    std::string path = work_path("numbers.dbf");
    api.create(1, path.c_str());
    api.define(0, 12, "V", "C", 0);
    if (!ok(api.open_append(path.c_str()) == 1, "open for append failed")) return;
    for (const Case& c : cases) {
        api.put(c.stored, 0);
        api.append();
    }
    api.close();
    if (!ok(api.open_read(path.c_str()) == 1, "open for read failed")) return;
    for (int r = 0; r < static_cast<int>(std::size(cases)); ++r)
        ok(api.number(r, 0) == cases[r].number, "number of '%s': got %.17g, expected %.17g", cases[r].shown,
           api.number(r, 0), cases[r].number);

    clear_log();
    const std::string long_path = g_work + "\\" + std::string(260, 'a');
    ok(api.open_read(long_path.c_str()) == 0, "a path of %u characters was opened",
       static_cast<unsigned>(long_path.size()));
    ok(api.create(1, long_path.c_str()) == 0, "a path of %u characters was created",
       static_cast<unsigned>(long_path.size()));
    const auto reopen = fn<int(__stdcall*)(const char*)>("_Hyl_OpenTableForRead@4");
    ok(reopen(nullptr) == 1 && api.records() == static_cast<int>(std::size(cases)) && api.fields() == 1,
       "a null path after a refused one: records %d, fields %d, expected the table last named", api.records(),
       api.fields());
    ok(api.number(5, 0) == 7, "the reopened table's record 5: got %g, expected 7", api.number(5, 0));
    api.close();
    ok(log_entries().size() == 13, "messages of the refusals: got %u, expected 10 beeps and 3 boxes",
       static_cast<unsigned>(log_entries().size()));
}

// A pointer in a message is the whole address, with as many digits as a
// pointer has: here the DLL's current table, which lies inside its image
// (above 4 GB for the 64-bit DLL, whose preferred base is there).
void pointers_in_messages() {
    Api api;
    clear_log();
    const std::string missing = work_path("missing.dbf");
    ok(api.open_read(missing.c_str()) == 0, "a missing table was opened");
    const std::string prefix = "box Dbf_ReadHead ";
    std::string box;
    for (const std::string& e : log_entries())
        if (e.rfind(prefix, 0) == 0) box = e;
    const std::string digits = box.substr(std::min(box.size(), prefix.size()), 2 * sizeof(void*));
    const bool hex = digits.size() == 2 * sizeof(void*) &&
                     digits.find_first_not_of("0123456789ABCDEF") == std::string::npos;
    if (!ok(hex && box.compare(prefix.size() + digits.size(), 12, " handle=-1 <") == 0,
            "the open's message: '%s', expected %u hexadecimal digits", box.c_str(),
            static_cast<unsigned>(2 * sizeof(void*))))
        return;
    const uintptr_t address = static_cast<uintptr_t>(std::stoull(digits, nullptr, 16));
    const auto base = reinterpret_cast<uintptr_t>(g_dll);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(g_dll);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    ok(address >= base && address < base + nt->OptionalHeader.SizeOfImage,
       "the table at %s lies outside the DLL, loaded at %p", digits.c_str(), static_cast<void*>(g_dll));
}

void sharing_violation() {
    Api api;
    std::string path = work_path("held.dbf");
    api.create(1, path.c_str());
    api.define(0, 4, "A", "C", 0);
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!ok(held != INVALID_HANDLE_VALUE, "cannot hold the file: %lu", GetLastError())) return;
    clear_log();
    DWORD start = GetTickCount();
    int result = api.open_read(path.c_str());
    DWORD took = GetTickCount() - start;
    CloseHandle(held);
    ok(result == 0, "open of a held file gave %d", result);
    int lines = 0, beeps = 0, boxes = 0;
    std::string first_line, seventh_line;
    for (const std::string& e : log_entries()) {
        if (e.rfind("line ", 0) == 0) {
            if (lines == 0) first_line = e;
            if (lines == 6) seventh_line = e;
            ++lines;
        } else if (e == "beep") {
            ++beeps;
        } else if (e.rfind("box ", 0) == 0) {
            ++boxes;
        }
    }
    ok(lines == 20, "busy lines: got %d, expected 20", lines);
    ok(beeps == 210, "beeps: got %d, expected 200 + 10 for the failed open", beeps);
    ok(boxes == 2, "message boxes: got %d, expected 2", boxes);
    // "... занят ofl=8040 0 -1 32"
    std::string busy = " \xE7\xE0\xED\xFF\xF2 ofl=8040 0 -1 32";
    std::string logged_path;  // the log writes a backslash as two
    for (char c : path) logged_path += c == '\\' ? std::string("\\\\") : std::string(1, c);
    ok(first_line == "line " + logged_path + busy, "first line: %s", first_line.c_str());
    ok(took >= 1500, "the retries took only %lu ms", took);
    ok(api.open_read(path.c_str()) == 1, "open after release failed");
    api.close();
}

void code_pages() {
    Api api;
    std::string path = work_path("cp.dbf");
    // OEM to ANSI: each byte read back through a text field.
    api.create(1, path.c_str());
    api.define(0, 3, "V", "C", 0);
    api.open_append(path.c_str());
    for (int b = 1; b < 256; ++b) {
        char value[4] = {'A', static_cast<char>(b), 'A', 0};
        api.put(value, 0);
        api.append();
    }
    api.close();
    api.open_read(path.c_str());
    int mismatches = 0;
    for (int b = 1; b < 256; ++b) {
        char want[4] = {'A', static_cast<char>(b), 'A', 0};
        OemToCharA(want, want);
        const char* got = api.text(b - 1, 0);
        if (std::strcmp(got, want) != 0) {
            ++mismatches;
            ok(false, "OEM byte %02X: got %02X, OemToCharA gives %02X", b, static_cast<uint8_t>(got[1]),
               static_cast<uint8_t>(want[1]));
        }
    }
    ok(mismatches == 0, "%d OEM bytes differ", mismatches);
    api.close();

    // ANSI to OEM: field names go through the conversion when defined.
    std::string names_path = work_path("cpnames.dbf");
    int fields = 255;
    api.create(fields, names_path.c_str());
    for (int b = 1; b < 256; ++b) {
        char name[2] = {static_cast<char>(b), 0};
        api.define(b - 1, 1, name, "C", 0);
    }
    std::vector<uint8_t> bytes = read_bytes(names_path);
    mismatches = 0;
    for (int b = 1; b < 256 && bytes.size() >= 32u * 256 + 1; ++b) {
        char want[2] = {static_cast<char>(b), 0};
        CharToOemA(want, want);
        uint8_t got = bytes[32 * b];
        if (got != static_cast<uint8_t>(want[0])) {
            ++mismatches;
            ok(false, "ANSI byte %02X: got %02X, CharToOemA gives %02X", b, got, static_cast<uint8_t>(want[0]));
        }
    }
    ok(bytes.size() >= 32u * 256 + 1, "names table too short");
    ok(mismatches == 0, "%d ANSI bytes differ", mismatches);
    ok(GetOEMCP() == 866 && GetACP() == 1251, "the system code pages are %u/%u, not 866/1251", GetOEMCP(),
       GetACP());
}

// A record as the appending child writes it: ID N(10), TEXT C(20).
std::string crash_record(int i) {
    char bytes[40];
    std::snprintf(bytes, sizeof bytes, " %10d%-20s", i, ("record " + std::to_string(i)).c_str());
    return bytes;
}

// A host appending through the DLL is ended with TerminateProcess at seeded
// moments: the header counts every record it was told is appended, and at
// most one more, each in its place; the next host appends right after them.
void appends_survive_termination() {
    Api api;
    const std::string path = work_path("crash.dbf");
    if (!ok(api.create(2, path.c_str()) && api.define(0, 10, "ID", "N", 0) && api.define(1, 20, "TEXT", "C", 0),
            "cannot make %s", path.c_str()))
        return;
    char self[MAX_PATH], dll[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    GetModuleFileNameA(g_dll, dll, MAX_PATH);
    uint32_t seed = 20261207;
    int acked = 0;
    for (int round = 0; round < 4; ++round) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE from_child = nullptr, to_parent = nullptr;
        CreatePipe(&from_child, &to_parent, &inherit, 0);
        SetHandleInformation(from_child, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA start{};
        start.cb = sizeof start;
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdOutput = to_parent;
        std::string command = std::string("\"") + self + "\" --append-child \"" + dll + "\" \"" + path + "\"";
        PROCESS_INFORMATION child{};
        const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                            &start, &child);
        CloseHandle(to_parent);
        if (!ok(started, "cannot start the appending host: %lu", GetLastError())) {
            CloseHandle(from_child);
            return;
        }
        // The first acknowledgement, then a seeded pause, then the end.
        std::vector<uint8_t> acks(4);
        DWORD got = 0;
        ReadFile(from_child, acks.data(), 4, &got, nullptr);
        seed = seed * 1103515245u + 12345u;
        Sleep(seed >> 16 & 63);
        TerminateProcess(child.hProcess, 9);
        WaitForSingleObject(child.hProcess, 30000);
        acks.resize(got);
        uint8_t more[4096];
        while (ReadFile(from_child, more, sizeof more, &got, nullptr) && got) acks.insert(acks.end(), more, more + got);
        CloseHandle(from_child);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
        for (std::size_t at = 0; at + 4 <= acks.size(); at += 4) {
            int index = acks[at] | acks[at + 1] << 8 | acks[at + 2] << 16 | acks[at + 3] << 24;
            if (index + 1 > acked) acked = index + 1;
        }
        const std::vector<uint8_t> bytes = read_bytes(path);
        const int count = bytes.size() >= 32 ? bytes[4] | bytes[5] << 8 | bytes[6] << 16 | bytes[7] << 24 : -1;
        ok(acked <= count && count <= acked + 1, "round %d: the header counts %d, the host was told %d", round, count,
           acked);
        int wrong = 0;
        for (int i = 0; i < count; ++i) {
            const std::size_t at = 97 + 31 * static_cast<std::size_t>(i);
            if (at + 31 > bytes.size() || std::memcmp(&bytes[at], crash_record(i).data(), 31) != 0) ++wrong;
        }
        ok(wrong == 0, "round %d: %d of %d counted records do not hold what was written", round, wrong, count);
        ok(api.open_read(path.c_str()) == 1 && api.records() == count, "round %d: the DLL counts %d, the header %d",
           round, api.records(), count);
        api.close();
        acked = count;
    }
    ok(acked > 4, "the hosts appended only %d records", acked);
}

}  // namespace

// The appending host of appends_survive_termination, run as a child.
int append_child(const char* dll_path, const char* table) {
    g_dll = LoadLibraryA(dll_path);
    if (!g_dll) return 1;
    Api api;
    if (!api.open_append(table)) return 1;
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    for (int i = api.records();; ++i) {
        const std::string record = crash_record(i);
        api.put(record.substr(1, 10).c_str(), 0);
        api.put(record.substr(11).c_str(), 1);
        uint8_t ack[4] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i >> 16),
                          static_cast<uint8_t>(i >> 24)};
        DWORD put = 0;
        if (!api.append() || !WriteFile(out, ack, 4, &put, nullptr)) return 1;
    }
}

void register_table_groups(std::vector<Group>& out) {
    out.push_back({"tables", create_append_read_back});
    out.push_back({"tables", foreign_header});
    out.push_back({"tables", numbers_and_paths});
    out.push_back({"tables", pointers_in_messages});
    out.push_back({"sharing", sharing_violation});
    out.push_back({"codepages", code_pages});
    out.push_back({"crash", appends_survive_termination});
}

}  // namespace host
