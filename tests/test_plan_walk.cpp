// The plan walk: names as the field-text export gives them in either code
// page, the drive asked for, and a plan read afresh by every walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>

#include "plan/dbfimage.h"
#include "plan/plan.h"
#include "planchart/walk.h"
#include "platform/codepage.h"
#include "tests/dbf_bytes.h"
#include "tests/fake_platform.h"

using namespace hyl;
using namespace std::string_literals;

namespace {

// A plan of (object, equipment) NAMES on drive LETTER (the folder DIR/LETTER), stored
// in 866 (LANGUAGE 0x65) or 1251 (0x57); every entry 2010-03-10 12:00 to 2010-03-12 08:00.
void write_plan(const std::string& dir, char letter, std::vector<std::string> names, uint8_t language = 0x65) {
    std::vector<std::vector<std::string>> rows;
    for (std::string& name : names) {
        name = utf8_to_ansi(name);
        if (language == 0x65) ansi_to_oem(name.data());
    }
    for (std::size_t i = 0; i + 1 < names.size(); i += 2)
        rows.push_back({"1", names[i], names[i + 1], "952776000", "952934400"});
    std::vector<uint8_t> bytes = hyltest::dbf_bytes(
        {{"NCE", 'N', 4}, {"NAMEOBJ", 'C', 24}, {"NAMEEQU", 'C', 24}, {"TIMERZN", 'N', 12}, {"TIMERZK", 'N', 12}}, rows);
    bytes[29] = language;
    std::string path = dir + "/" + letter + "/" + (kPlanPathAfterDrive + 2);
    std::replace(path.begin(), path.end(), '\\', '/');
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    hyltest::write_file(path, bytes);
}

// "record object/equipment first..after; " for each entry, then whether the plan loaded.
std::string described(const PlanWalk& walk) {
    std::ostringstream out;
    for (const PlanEntry& e : walk.entries)
        out << e.record << ' ' << e.object << '/' << e.equipment << ' ' << e.first_day << ".." << e.day_after_last
            << "; ";
    return out.str() + (walk.loaded ? "loaded" : "not loaded");
}

TEST(PlanWalk, NamesDrivesAndAPlanReadAfresh) {
    hyltest::TempDir dir;
    hyltest::ScopedTz tz("UTC0");
    hyltest::FakePlatform fake;  // the missing plan's pauses are not waited
    for (const char* letter : {"X", "Q"}) setenv(("HYL_DRIVE_"s + letter).c_str(), dir.path(letter).c_str(), 1);
    Plan_LoadDefaults();
    const std::vector<std::string> names = {"Котельная № 1", "котёл\0хвост"s, "Насос \x01", " ёмкость ",
                                            "кот № 3",       "КОТЁЛ"};
    const std::string first = "0 Котельная № 1/котёл 40247..40250; ", third = "2 кот № 3/КОТЁЛ 40247..40250; ";
    const std::string all = first + "1 Насос/ ёмкость 40247..40250; " + third + "loaded";
    const std::string d = dir.dir();
    const struct Step {
        std::function<void()> before;
        const char* object;
        char letter;
        double from;
        std::string found;
    } steps[] = {
        {[&] { write_plan(d, 'X', names, 0x65); }, "", 'X', 40238, all},
        {[&] { write_plan(d, 'X', names, 0x57); }, "", 'X', 40238, all},
        {[&] { write_plan(d, 'X', names); }, "КОТ", 'X', 40238, first + third + "loaded"},
        {[] {}, "", 'X', 40269, "loaded"},
        {[] {}, "", 'Q', 40238, "not loaded"},
        {[&] { write_plan(d, 'Q', {"Ку", "a"}); }, "", 'Q', 40238, "0 Ку/a 40247..40250; loaded"},
        // A host's search after a walk looks on the built-in drive; the next walk lets that image go.
        {[] {
             EXPECT_EQ(Plan_GetNextMesplan("", "", 40238, 40269, -1), 0);
             EXPECT_EQ(g_table_image.path[0], 'X');
         },
         "", 'Q', 40238, "0 Ку/a 40247..40250; loaded"},
        {[&] { write_plan(d, 'Q', {"Ку 2", "a"}); }, "", 'Q', 40238, "0 Ку 2/a 40247..40250; loaded"},
    };
    for (const Step& s : steps) {
        s.before();
        EXPECT_EQ(described(walk_plan(s.object, "", s.from, 40269, s.letter)), s.found) << &s - steps;
        EXPECT_EQ(g_table_image.block, nullptr) << "the image is let go";
    }
    Plan_LoadDefaults();
    for (const char* letter : {"X", "Q"}) unsetenv(("HYL_DRIVE_"s + letter).c_str());
}

}  // namespace
