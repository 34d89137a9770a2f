// The plan walk: every entry of an object and a piece of equipment whose
// period meets a date range, in the order a host meets them walking the
// plan (previous index -1, then each index returned), with what a listing
// or a chart shows of each: its record number, its names as the field-text
// export gives them, its first day and the day after its last.
//
// The tool's plan command and the Python package's plan() and plan_chart()
// all walk through this, so they answer alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hyl {

// The plan's built-in path after its drive letter: hosts find the plan at
// X:\QUV\HYL_CE\zmec.dbf, or on the drive they name instead of X.
inline constexpr char kPlanPathAfterDrive[] = ":\\QUV\\HYL_CE\\zmec.dbf";

struct PlanEntry {
    int32_t record = 0;
    // NAMEOBJ and NAMEEQU in UTF-8, cut as the field-text export cuts them:
    // up to a NUL, trailing blanks and control bytes dropped.
    std::string object, equipment;
    double first_day = 0.0;       // local DATE: the midnight that begins the period
    double day_after_last = 0.0;  // local DATE: the midnight that ends it
};

struct PlanWalk {
    std::vector<PlanEntry> entries;  // in walk order
    // Whether the plan could be loaded at all.  A plan that cannot be
    // (missing, refused, unreadable) gives no entries, as one without a
    // match does; this tells them apart.
    bool loaded = false;
};

// The entries whose object and equipment begin with OBJECT and EQUIPMENT
// (UTF-8; without regard to case, "" matching every one) and whose period
// meets FROM .. TO (local DATEs), in the plan on drive LETTER.
//
// The walk holds the library's lock throughout, the load's retries on a
// slow drive included; what the library shows meanwhile goes where the
// calling thread's messages go.  The plan is loaded afresh and let go
// afterwards, so a plan loaded earlier from another drive or folder, or
// before the file changed, is never what it answers from; the drive is
// back at the built-in X when it returns.
PlanWalk walk_plan(const std::string& object, const std::string& equipment, double from, double to, char letter);

}  // namespace hyl
