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

// A field of a new table of FORMAT from its parts as text: NAME (UTF-8),
// TYPE (one letter, either case), LENGTH (digits; may be empty for the types
// with one length: D L M G I B Y T), DECIMALS (digits, or empty: none, 4 for
// Y), and whether it may be null (Visual FoxPro's flag; refused elsewhere).
// False with *PROBLEM when they cannot make a field of that format: a type
// it lacks is refused with the name of the format that has it.
bool Definition_Make(const TextCodec& codec, TableFormat format, const std::string& name, const std::string& type,
                     const std::string& length, const std::string& decimals, bool nullable, TableField* field,
                     std::string* problem);

// A header cell of import, NAME:TYPE[:LENGTH[:DECIMALS]][:NULL].
bool Definition_Parse(const TextCodec& codec, TableFormat format, const std::string& cell, TableField* field,
                      std::string* problem);

// A field name as a descriptor of FORMAT holds it: 1 to 11 bytes in the
// table's code page in dBASE III (as the DLL's engine makes them), 1 to 10
// in the others, whose programs end a name with a NUL in its eleventh byte;
// no blanks; in an 866 table only characters that 1251 holds too, since
// hosts read the names in 1251; in Visual FoxPro not _NullFlags, the name
// of its own hidden field.
bool Definition_CheckName(const TextCodec& codec, TableFormat format, const std::string& name, std::string* problem);

// Names equal without regard to case, as readers of the table compare them.
bool Definition_SameName(const std::string& a, const std::string& b);

// What is wrong with a whole table of FORMAT with FIELDS, beyond each field:
// too many fields, a record too long (Visual FoxPro's hidden _NullFlags
// counted).  dBASE III keeps the limits of the DLL's engine, which hosts'
// tables have; the others have their programs' own.  Empty when nothing.
std::vector<std::string> Definition_CheckTable(TableFormat format, const std::vector<TableField>& fields);

}  // namespace hyl
