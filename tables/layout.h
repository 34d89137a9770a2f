// How a table's bytes are laid out: which format its header is in, its
// fields (from the 32-byte descriptors of dBASE III to Visual FoxPro, or
// dBASE 7's 48-byte ones after its 68-byte header), and the length its
// records are laid by.
//
// A record's length is the header's, unless the header disagrees with its
// fields and the file's length shows the records laid by the fields (one
// known writer puts a record length one byte short): then the records are
// read as they lie, and check reports the header, which repair mends.
//
// dBASE II tables (16-byte descriptors after an 8-byte header) are named
// and refused: no one has asked for them, and their layout shares nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tables/fieldtypes.h"
#include "tables/snapshot.h"

namespace hyl {

struct LayoutField {
    std::string name;  // the descriptor's name bytes up to the first NUL, as stored
    char type = '\0';
    int32_t length = 0;
    int32_t decimals = 0;
    int32_t offset = 0;  // within the record; below 1 when unreadable
    uint8_t flags = 0;   // Visual FoxPro's descriptor byte 18 (0x02 nullable)
};

struct TableLayout {
    TableFormat format = TableFormat::kDbase3;
    int32_t descriptors_at = 32;   // where the first field descriptor begins
    int32_t descriptor_size = 32;
    std::vector<LayoutField> fields;
    bool terminated = false;       // a 0x0D ends the descriptors
    int32_t header_length = 0;     // as the header says
    int32_t record_length = 0;     // as the header says
    int64_t fields_length = 1;     // the deletion flag and the fields
    int64_t stride = 0;            // what the records are laid by
    bool laid_by_fields = false;   // stride is the fields' length, not the header's
    int32_t reach = 0;             // bytes a record's fields reach from its start
    std::string language_driver;   // dBASE 7's language driver name ("DB866RU0"), as stored
};

// The layout of the table SNAPSHOT holds.
TableLayout Layout_Read(const Snapshot& snapshot);

// Whether the first LENGTH bytes of a file are dBASE 7's header: version
// byte 0x04, 0x8C or 0x44, and 48-byte descriptors ended by 0x0D.
bool Layout_IsDbase7(const uint8_t* head, int64_t length);

// The layout a file's first LENGTH bytes have when hyl does not read it
// ("a dBASE II table (...), which hyl does not read"), or empty.
std::string Layout_Refusal(const uint8_t* head, int64_t length);

// The format a version byte names, for a table that is not dBASE 7.
TableFormat Layout_FormatOf(uint8_t version);

}  // namespace hyl
