// A value in few words, to compare in tables of cases.
#pragma once

#include <string>

#include "tables/fieldtypes.h"

namespace hyltest {

inline std::string shown(const hyl::Value& v) {
    using hyl::ValueKind;
    switch (v.kind) {
        case ValueKind::kNull: return "null";
        case ValueKind::kBool: return v.boolean ? "true" : "false";
        case ValueKind::kInteger: return "int " + std::to_string(v.integer);
        case ValueKind::kDouble: return "double " + std::to_string(v.real);
        case ValueKind::kDecimal: return "decimal " + v.text;
        case ValueKind::kString: return "text " + v.text;
        case ValueKind::kDate: return "date " + hyl::Date_Format(v.integer);
        case ValueKind::kDateTime: return "time " + hyl::DateTime_Format(v.integer);
        case ValueKind::kBinary: return "binary " + std::to_string(v.integer);
    }
    return "?";
}

}  // namespace hyltest
