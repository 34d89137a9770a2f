// The plan walk over the engine of plan/: the search walked as a host walks
// it, with the names read from the same table image the search matched them
// in, so a name always belongs to the entry beside it.
#include "planchart/walk.h"

#include <string_view>

#include "dbf/dbf.h"
#include "plan/dbfimage.h"
#include "plan/plan.h"
#include "platform/codepage.h"
#include "platform/threads.h"
#include "tables/fieldtypes.h"

namespace hyl {
namespace {

// A name as the field-text export gives it: the field's bytes up to a NUL,
// trailing blanks and control bytes cut, taken from code page 866 when the
// table says its text is in 866, in UTF-8.
std::string name_in(const DbfImage& image, DbfImgColumn column, int32_t record, bool oem) {
    const std::string_view bytes = DbfImg_ColumnBytes(image, record, column);
    std::string ansi(Field_StoredText(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size())));
    if (oem)
        for (char& c : ansi) c = static_cast<char>(oem_to_ansi_byte(static_cast<uint8_t>(c)));
    return ansi_to_utf8(ansi);
}

// However the walk ends, the image is let go and the drive is the built-in one.
struct LetPlanGo {
    LetPlanGo() = default;
    LetPlanGo(const LetPlanGo&) = delete;
    LetPlanGo& operator=(const LetPlanGo&) = delete;
    ~LetPlanGo() {
        Plan_FreeResource();
        Plan_SetDrive(nullptr);
    }
};

}  // namespace

PlanWalk walk_plan(const std::string& object, const std::string& equipment, double from, double to, char letter) {
    // The engine compares names in Windows-1251, as hosts pass them.
    const std::string o = utf8_to_ansi(object), e = utf8_to_ansi(equipment);
    PlanWalk walk;
    LibraryLock lock;
    // An image still held was loaded from wherever the drive stood then, and
    // as the file was then: it is let go, so the plan is read as it is now.
    Plan_FreeResource();
    LetPlanGo let_go;
    const char drive[2] = {letter, '\0'};
    Plan_SetDrive(drive);

    const DbfImage& image = g_table_image;
    DbfImgColumn object_column, equipment_column;
    bool oem = false;
    for (int32_t r = Plan_GetNextMesplan(o.c_str(), e.c_str(), from, to, -1); r != -1;
         r = Plan_GetNextMesplan(o.c_str(), e.c_str(), from, to, r)) {
        if (walk.entries.empty()) {  // the image is there from the first hit on
            object_column = DbfImg_GetColumn(image, DbfImg_FindField(image, "NAMEOBJ"));
            equipment_column = DbfImg_GetColumn(image, DbfImg_FindField(image, "NAMEEQU"));
            oem = Dbf_LanguageIsOem(image.block[29]);
        }
        walk.entries.push_back({r, name_in(image, object_column, r, oem), name_in(image, equipment_column, r, oem),
                                Plan_GetDate("TIMERZN", r), Plan_GetDate("TIMERZK", r)});
    }
    walk.loaded = image.block != nullptr;
    return walk;
}

}  // namespace hyl
