// The rules of writing a table, beside the reader's: a new table's field
// definitions (as import's header row and hyl.create give them), field
// names, and the limits of a table.  What a value may be is its type's rule
// (tables/fieldtypes.h); what a table may be is here.  The tool and the
// Python package both call these, so they refuse the same definitions in
// the same words.  Not part of the DLL, whose exports store what they are
// given (hosts rely on that).
#pragma once

#include <string>
#include <vector>

#include "tables/codepage.h"
#include "tables/fieldtypes.h"

namespace hyl {

// A field of a new table from its parts as text: NAME (UTF-8), TYPE (one
// letter, either case), LENGTH and DECIMALS (digits; DECIMALS may be empty).
// False with *PROBLEM when they cannot make a field the tool writes.
bool Definition_Make(const TextCodec& codec, const std::string& name, const std::string& type, const std::string& length,
                     const std::string& decimals, TableField* field, std::string* problem);

// The same for a table of FORMAT, whose field may be NULLABLE (Visual
// FoxPro): every type the format has, memo fields among them; LENGTH may be
// empty for a type with one length (D, L, M, I, B, Y, T, G), which it then
// takes.  A type or a null the format lacks is refused with the name of the
// format that has it.
bool Definition_Make(const TextCodec& codec, const std::string& name, const std::string& type, const std::string& length,
                     const std::string& decimals, TableFormat format, bool nullable, TableField* field,
                     std::string* problem);

// A header cell NAME:TYPE:LENGTH[:DECIMALS] of import.
bool Definition_Parse(const TextCodec& codec, const std::string& cell, TableField* field, std::string* problem);

// A field name as a descriptor holds it: 1 to 11 bytes in the table's code
// page, no blanks; in an 866 table only characters that 1251 holds too,
// since hosts read the names in 1251.
bool Definition_CheckName(const TextCodec& codec, const std::string& name, std::string* problem);

// Names equal without regard to case, as readers of the table compare them.
bool Definition_SameName(const std::string& a, const std::string& b);

// What is wrong with a whole table of FIELDS, beyond each field: too many
// fields, a record too long.  Empty when nothing.
std::vector<std::string> Definition_CheckTable(const std::vector<TableField>& fields);

}  // namespace hyl
