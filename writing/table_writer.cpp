// Tables written: new ones, records appended, changed and deleted, each
// flushed in the order that keeps what was acknowledged.
#include "writing/table_writer.h"

#include <algorithm>
#include <cstring>

#include "lowlevel/lv.h"
#include "tables/interrupted.h"
#include "writing/files.h"
#include "platform/platform.h"
#include "writing/definition.h"

namespace hyl {
namespace {

constexpr uint8_t kEndMarker = 0x1A;
constexpr int32_t kBacklinkBytes = 263;  // Visual FoxPro's link to a database, empty for a free table
constexpr int64_t kChunkBytes = 4 << 20;
// Records read at once for drafting changes.
constexpr int64_t kPieceBytes = 256 << 10;

void put_le(uint8_t* p, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}


// Today's date as a header holds it: the year less 1900, the month, the day.
void put_today(uint8_t* date) {
    CivilTime local;
    int dst = 0;
    if (!platform().utc_to_local(platform().now(), &local, &dst)) local = {2000, 1, 1};
    date[0] = static_cast<uint8_t>(std::clamp(local.year - 1900, 0, 255));
    date[1] = static_cast<uint8_t>(local.month);
    date[2] = static_cast<uint8_t>(local.day);
}

MemoFormat memo_format_of(TableFormat format) {
    switch (format) {
        case TableFormat::kDbase3: return MemoFormat::kDbase3;
        case TableFormat::kFoxPro:
        case TableFormat::kVisualFoxPro: return MemoFormat::kFoxPro;
        default: return MemoFormat::kDbase4;
    }
}

uint8_t version_of(const NewTable& t, bool memo) {
    const bool varying = std::any_of(t.fields.begin(), t.fields.end(),
                                     [](const TableField& f) { return f.type == 'V' || f.type == 'Q'; });
    switch (t.format) {
        case TableFormat::kDbase3: return memo ? 0x83 : 0x03;
        case TableFormat::kDbase4: return memo ? 0x8B : 0x03;
        case TableFormat::kFoxPro: return memo ? 0xF5 : 0x03;
        case TableFormat::kVisualFoxPro: return varying ? 0x32 : 0x30;
        case TableFormat::kDbase7: break;
    }
    return 0x03;
}

// The production index a header's flag says the table has, by name.
std::string index_path(const std::string& table, uint8_t version) {
    const std::string stem = Memo_Stem(table);
    const bool fox = version == 0x30 || version == 0x31 || version == 0x32 || version == 0xF5 || version == 0xFB;
    if (!fox && version != 0x03) return stem + ".mdx";
    if (fox) return stem + ".cdx";
    return File_Exists(stem + ".cdx") || File_Exists(stem + ".CDX") ? stem + ".cdx" : stem + ".mdx";
}

// A code page as a .cpg names it: by its number where GDAL and this
// library's reader both take one (DOS and Windows code pages), else by the
// name iconv knows it by ("UTF-8", "ISO-8859-2", "KOI8-R").
std::string cpg_text(int codepage) {
    if ((codepage >= 437 && codepage <= 950) || (codepage >= 1250 && codepage <= 1258)) return std::to_string(codepage);
    const std::string name = CodePage_IconvName(codepage);
    return name.empty() ? std::to_string(codepage) : name;
}

std::string base_name(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

WriteOutcome TableWriter::create(const std::string& path, const NewTable& table) {
    auto refuse = [](WriteStatus status, std::string why) { return WriteOutcome{status, std::move(why)}; };
    if (table.format == TableFormat::kDbase7) return refuse(WriteStatus::kRefused, "dBASE 7 tables are read, not written");
    TextCodec codec;
    if (!codec.set(table.codepage))
        return refuse(WriteStatus::kRefused, CodePage_Name(table.codepage) + " is not one this system converts");
    const bool vfp = table.format == TableFormat::kVisualFoxPro;

    // The fields as the file lays them: offsets, and in Visual FoxPro the
    // bits of _NullFlags (a length bit for each V and Q field, then a null
    // bit for each nullable field, in the order of the fields).
    std::vector<TableField> fields = table.fields;
    int32_t offset = 1, bits = 0;
    bool memo = false;
    for (TableField& f : fields) {
        f.rule = Field_RuleOf(f.type, table.format);
        f.offset = offset;
        offset += f.length;
        memo = memo || f.rule == FieldRule::kMemo;
        if (vfp && (f.type == 'V' || f.type == 'Q')) f.length_bit = bits++;
        if (vfp && f.nullable) f.null_bit = bits++;
    }
    if (bits) {
        TableField flags;
        flags.name = "_NullFlags";
        flags.type = '0';
        flags.length = (bits + 7) / 8;
        flags.offset = offset;
        flags.hidden = true;
        offset += flags.length;
        fields.push_back(flags);
    }
    const int64_t header_length = 32 + 32 * static_cast<int64_t>(fields.size()) + 1 + (vfp ? kBacklinkBytes : 0);
    if (header_length > 0x7FFF || offset > 0x7FFF)
        return refuse(WriteStatus::kRefused, "a table of these fields is past what a header can say");

    std::vector<uint8_t> bytes(static_cast<std::size_t>(header_length), 0);
    bytes[0] = version_of(table, memo);
    put_today(&bytes[1]);
    put_le(&bytes[8], static_cast<uint64_t>(header_length), 2);
    put_le(&bytes[10], static_cast<uint64_t>(offset), 2);
    bytes[28] = vfp && memo ? 0x02 : 0x00;
    bytes[29] = CodePage_Language(table.codepage);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const TableField& f = fields[i];
        uint8_t* d = &bytes[32 + 32 * i];
        std::string name = f.name, problem;
        if (!f.hidden && !Text_Encode(codec, f.name, &name, &problem))
            return refuse(WriteStatus::kRefused, "field name " + Text_Quoted(f.name) + ": " + problem);
        std::memcpy(d, name.data(), std::min<std::size_t>(name.size(), 11));
        d[11] = static_cast<uint8_t>(f.type);
        put_le(d + 12, static_cast<uint64_t>(f.offset), 4);
        d[16] = static_cast<uint8_t>(f.length);
        d[17] = static_cast<uint8_t>(f.decimals);
        // Q and G hold bytes, never text in the code page: Visual FoxPro's
        // binary flag says so, and python3-dbf reads a G without it as text.
        const bool binary = f.type == 'Q' || f.type == 'G';
        if (vfp) d[18] = static_cast<uint8_t>((f.nullable ? 0x02 : 0) | (f.hidden ? 0x05 : 0) | (binary ? 0x04 : 0));
    }
    bytes[32 + 32 * fields.size()] = 0x0D;
    bytes.push_back(kEndMarker);

    // The table's file is taken first: a table another program holds is
    // refused before its memo file or its .cpg is touched.
    const int32_t handle = platform().file_create(path.c_str());
    if (handle == -1)
        return platform().last_error() == kErrorSharingViolation
                   ? refuse(WriteStatus::kInUse, "in use by another program")
                   : refuse(WriteStatus::kFailed, "cannot create it");
    auto give_up = [&](std::string why) {
        platform().file_close(handle);
        return refuse(WriteStatus::kFailed, std::move(why));
    };
    const std::string stem = Memo_Stem(path);
    if (memo) {
        const std::string name = base_name(stem).substr(0, 8);
        if (!MemoWriter::create(Memo_NewPath(path, memo_format_of(table.format)), memo_format_of(table.format),
                                table.memo_block_size, name))
            return give_up("cannot make the memo file " + Memo_NewPath(path, memo_format_of(table.format)));
    } else {
        // The memo file of a table this one replaces is not this one's.
        for (MemoFormat format : {MemoFormat::kDbase3, MemoFormat::kFoxPro})
            if (File_Exists(Memo_NewPath(path, format))) platform().file_remove(Memo_NewPath(path, format).c_str());
    }
    // A code page no language byte names (UTF-8, ISO-8859-2, KOI8-R) is
    // named by a .cpg, as GIS programs write one.  A .cpg already there is
    // made to name the new table's code page, as it would otherwise be
    // believed before the language byte.
    const std::string cpg = stem + ".cpg";
    if (CodePage_Language(table.codepage) == 0 || File_Exists(cpg)) {
        const std::string text = cpg_text(table.codepage) + "\n";
        const int32_t cpg_handle = platform().file_create(cpg.c_str());
        const bool ok = cpg_handle != -1 && File_WriteAll(cpg_handle, 0, text.data(), static_cast<int64_t>(text.size())) &&
                        platform().file_sync(cpg_handle);
        if (cpg_handle != -1) platform().file_close(cpg_handle);
        if (!ok) return give_up("cannot write " + cpg);
    }
    const bool ok = File_WriteAll(handle, 0, bytes.data(), static_cast<int64_t>(bytes.size())) && platform().file_sync(handle);
    platform().file_close(handle);
    if (!ok) return refuse(WriteStatus::kFailed, "cannot write it");
    platform().folder_sync(path.c_str());
    return {};
}

namespace {

void clear_bit(std::string& record, int32_t offset, int32_t bit) {
    if (bit < 0 || offset < 1) return;
    const std::size_t at = static_cast<std::size_t>(offset + bit / 8);
    if (at < record.size()) record[at] = static_cast<char>(record[at] & ~(1 << (bit % 8)));
}

}  // namespace

WriteOutcome TableWriter::failed(const std::string& what) { return {WriteStatus::kFailed, what}; }

WriteOutcome TableWriter::open(const std::string& path, const WriterOptions& options) {
    close();
    notice_.clear();
    auto refuse = [&](WriteStatus status, std::string why) {
        reader_.close();
        return WriteOutcome{status, std::move(why)};
    };
    ReaderOptions read;
    read.encoding = options.encoding;
    read.for_update = true;
    switch (reader_.open(path, read)) {
        case ReaderStatus::kOpened: break;
        case ReaderStatus::kMissing: return refuse(WriteStatus::kMissing, "no such file");
        case ReaderStatus::kInUse: return refuse(WriteStatus::kInUse, "in use by another program");
        case ReaderStatus::kNotATable:
        case ReaderStatus::kOtherLayout:
        case ReaderStatus::kUnknownEncoding: return refuse(WriteStatus::kNotATable, reader_.error());
        default: return refuse(WriteStatus::kFailed, reader_.error());
    }
    const Snapshot& scan = reader_.scan();
    const TableLayout& layout = reader_.layout();
    if (layout.format == TableFormat::kDbase7)
        return refuse(WriteStatus::kRefused, "a dBASE 7 table: hyl reads these, it does not write them");
    const int64_t fields_end = layout.descriptors_at + layout.descriptor_size * static_cast<int64_t>(layout.fields.size()) + 1;
    if (layout.fields.empty() || scan.record_length() != layout.fields_length || !layout.terminated ||
        scan.header_length() < fields_end || scan.header_length() > scan.file_length())
        return refuse(WriteStatus::kRefused, "its header does not describe records that can be written (hyl check tells more)");
    if (scan.file_length() < scan.record_position(reader_.record_count()))
        return refuse(WriteStatus::kRefused, "the file ends before the records its header counts (hyl repair mends that)");
    {
        int64_t journal_length = 0;
        std::vector<JournalRecord> journal;
        switch (Journal_Read(path, &journal_length, &journal)) {
            case JournalState::kNone: break;
            // A finished edit's journal whose removal a power cut took back.
            case JournalState::kEmpty: platform().file_remove(Table_JournalPath(path).c_str()); break;
            default: return refuse(WriteStatus::kRefused, "an edit of it was cut short: hyl repair settles it first");
        }
    }
    if (File_Exists(Table_PackingPath(path)))
        return refuse(WriteStatus::kRefused, "a pack of it was cut short: hyl repair settles it first");
    if (reader_.has_memo_fields() && !reader_.memo())
        return refuse(WriteStatus::kRefused, "its memo file (.dbt or .fpt) is missing");
    path_ = path;
    handle_ = scan.handle();
    count_ = reader_.record_count();
    header_length_ = scan.header_length();
    record_length_ = scan.record_length();
    for (const TableField& f : fields())
        if (f.hidden && null_flags_offset_ < 0) null_flags_offset_ = f.offset;

    // A production index lists the records by their values; a table it no
    // longer matches gives wrong answers to the programs that use it.
    // dBASE III keeps byte 28 zero; dBASE IV and FoxPro tables without
    // memo fields share its version byte, and there the flag is theirs.
    const uint8_t flags = scan.header()[28];
    if (flags & 0x01) {
        const std::string index = index_path(path, scan.version());
        if (!options.drop_index) {
            handle_ = -1;
            return refuse(WriteStatus::kRefused, "it has a production index, " + index +
                                                     ", which would no longer match it (--drop-index, drop_index=True: "
                                                     "clear the table's index flag and leave the index as it is)");
        }
        const uint8_t cleared = flags & ~0x01;
        if (lvv_write_at(handle_, 28, &cleared, 1) != 1 || !platform().file_sync(handle_)) {
            handle_ = -1;
            return refuse(WriteStatus::kFailed, "cannot clear its index flag");
        }
        notice_ = "cleared the production index flag: " + index + " no longer matches the table and is left as it is";
    }
    return {};
}

WriteOutcome TableWriter::close() {
    memo_.close();
    reader_.close();
    handle_ = -1;
    null_flags_offset_ = -1;
    count_ = 0;
    return {};
}

void TableWriter::set_bit(std::string& record, int32_t bit) const {
    if (bit < 0 || null_flags_offset_ < 1) return;
    const std::size_t at = static_cast<std::size_t>(null_flags_offset_ + bit / 8);
    if (at < record.size()) record[at] = static_cast<char>(record[at] | 1 << (bit % 8));
}


bool TableWriter::draft(const std::vector<const Value*>& values, const WriteOptions& options, RecordDraft* out,
                        std::vector<FieldProblem>* problems) {
    // A new record is a record of blanks with the values given put in: a
    // field given none holds none (null, where it may be).
    out->record = -1;
    out->memos.clear();
    out->bytes.assign(static_cast<std::size_t>(record_length_), ' ');
    for (const TableField& f : fields())
        if (f.offset >= 1 && f.offset + f.length <= record_length_)
            out->bytes.replace(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.length), Field_Blank(f));
    static const Value kNone;
    std::vector<std::pair<int32_t, const Value*>> every;
    for (std::size_t i = 0; i < fields().size(); ++i)
        if (!fields()[i].hidden) every.emplace_back(static_cast<int32_t>(i), i < values.size() && values[i] ? values[i] : &kNone);
    for (std::size_t i = fields().size(); i < values.size(); ++i)
        if (values[i]) problems->push_back({static_cast<int32_t>(i), "no such field"});
    return put_values(every, options, out, problems) && values.size() <= fields().size();
}

bool TableWriter::put_values(const std::vector<std::pair<int32_t, const Value*>>& values, const WriteOptions& options,
                             RecordDraft* out, std::vector<FieldProblem>* problems) {
    bool ok = true;
    FieldBytes field_bytes;
    for (const auto& [field, value] : values) {
        if (field < 0 || field >= static_cast<int32_t>(fields().size())) continue;
        const TableField& f = fields()[static_cast<std::size_t>(field)];
        std::string what;
        if (f.hidden || !Field_Write(f, *value, codec(), options, &field_bytes, &what)) {
            problems->push_back({field, f.hidden ? "a field of the system's own" : what});
            ok = false;
            continue;
        }
        if (f.offset < 1 || f.offset + f.length > record_length_) continue;
        out->bytes.replace(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.length), field_bytes.bytes);
        clear_bit(out->bytes, null_flags_offset_, f.null_bit);
        clear_bit(out->bytes, null_flags_offset_, f.length_bit);
        if (field_bytes.null) set_bit(out->bytes, f.null_bit);
        if (field_bytes.shorter) set_bit(out->bytes, f.length_bit);
        if (field_bytes.memo) out->memos.emplace_back(field, field_bytes);
    }
    return ok;
}

bool TableWriter::draft_change(int64_t record, const std::vector<std::pair<int32_t, const Value*>>& values,
                               const WriteOptions& options, RecordDraft* out, std::vector<FieldProblem>* problems) {
    out->record = record;
    out->memos.clear();
    out->bytes.assign(static_cast<std::size_t>(record_length_), ' ');
    if (record < 0 || record >= count_) {
        problems->push_back({-1, "record " + std::to_string(record) + " is not in the table (it has " +
                                     std::to_string(count_) + " records)"});
        return false;
    }
    const char* stored = stored_record(record);
    if (!stored) {
        problems->push_back({-1, "record " + std::to_string(record) + " cannot be read"});
        return false;
    }
    out->bytes.assign(stored, static_cast<std::size_t>(record_length_));
    out->before = out->bytes;
    return put_values(values, options, out, problems);
}

const char* TableWriter::stored_record(int64_t r) {
    if (r < 0 || r >= count_) return nullptr;
    if (piece_first_ < 0 || r < piece_first_ || r >= piece_first_ + piece_count_) {
        piece_first_ = -1;
        piece_count_ = std::min(std::max<int64_t>(1, kPieceBytes / record_length_), count_ - r);
        piece_.resize(static_cast<std::size_t>(piece_count_ * record_length_));
        if (!File_ReadAll(handle_, header_length_ + r * record_length_, piece_.data(), piece_count_ * record_length_))
            return nullptr;
        piece_first_ = r;
    }
    return piece_.data() + (r - piece_first_) * record_length_;
}

bool TableWriter::ready_memo() {
    if (memo_.is_open()) return true;
    const MemoFile* memo = reader_.memo();
    return memo && memo_.open(memo->path(), memo->format());
}

// Each draft's memo entries added to the memo file, the pointers put in
// the records, and the memo file flushed: no record points at an entry the
// disk does not hold.
bool TableWriter::put_memos(std::vector<RecordDraft>& drafts) {
    bool any = false;
    for (RecordDraft& d : drafts)
        for (auto& [field, bytes] : d.memos) {
            if (!any && !ready_memo()) return false;
            any = true;
            uint64_t block = 0;
            if (!memo_.add(bytes.memo_bytes, bytes.memo_type, &block)) return false;
            const TableField& f = fields()[static_cast<std::size_t>(field)];
            d.bytes.replace(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.length), Field_MemoPointer(f, block));
        }
    return !any || memo_.flush();
}

bool TableWriter::flush_table() { return platform().file_sync(handle_) != 0; }

WriteOutcome TableWriter::append(std::vector<RecordDraft>& drafts) {
    if (handle_ == -1) return failed("the table is not open");
    if (drafts.empty()) return {};
    if (!put_memos(drafts)) return failed("cannot write the memo file");
    // The records after the counted ones, the end marker after them: written
    // in large pieces, then flushed before the count that counts them.
    std::string chunk;
    int64_t position = header_length_ + count_ * record_length_;
    for (std::size_t i = 0; i < drafts.size(); ++i) {
        chunk += drafts[i].bytes;
        if (i + 1 == drafts.size()) chunk += static_cast<char>(kEndMarker);
        if (static_cast<int64_t>(chunk.size()) >= kChunkBytes || i + 1 == drafts.size()) {
            if (!File_WriteAll(handle_, position, chunk.data(), static_cast<int64_t>(chunk.size())))
                return failed("cannot write the records");
            position += static_cast<int64_t>(chunk.size());
            chunk.clear();
        }
    }
    if (!flush_table()) return failed("cannot flush the records to the disk");
    uint8_t header[7];
    put_today(header);
    put_le(header + 3, static_cast<uint64_t>(count_) + drafts.size(), 4);
    if (lvv_write_at(handle_, 1, header, 7) != 7 || !flush_table()) return failed("cannot write the record count");
    count_ += static_cast<int64_t>(drafts.size());
    piece_first_ = -1;
    return {};
}

WriteOutcome TableWriter::update(std::vector<RecordDraft>& drafts) {
    if (handle_ == -1) return failed("the table is not open");
    if (drafts.empty()) return {};
    if (!put_memos(drafts)) return failed("cannot write the memo file");
    // The records as they are, into the journal, on the disk before any of
    // them changes: a cut at any moment leaves each record as it was (the
    // journal puts it back) or as it becomes.
    // Only the bytes that change are kept: a change of two fields journals
    // those two fields, not the record.
    std::vector<JournalRecord> before;
    for (const RecordDraft& d : drafts) {
        if (d.record < 0 || d.record >= count_ || static_cast<int64_t>(d.bytes.size()) != record_length_)
            return failed("a record out of the table");
        const char* was = static_cast<int64_t>(d.before.size()) == record_length_ ? d.before.data() : stored_record(d.record);
        if (!was) return failed("cannot read record " + std::to_string(d.record));
        for (int64_t at = 0; at < record_length_;) {
            if (was[at] == d.bytes[static_cast<std::size_t>(at)]) {
                ++at;
                continue;
            }
            // A piece runs on across fewer than 12 unchanged bytes, the cost of a piece of its own.
            int64_t end = at + 1, same = 0;
            for (int64_t k = at + 1; k < record_length_ && same < 12; ++k) {
                same = was[k] == d.bytes[static_cast<std::size_t>(k)] ? same + 1 : 0;
                if (!same) end = k + 1;
            }
            before.push_back({d.record, static_cast<int32_t>(at), std::string(was + at, static_cast<std::size_t>(end - at))});
            at = end;
        }
    }
    const std::string journal = Journal_Make(record_length_, before);
    const std::string journal_path = Table_JournalPath(path_);
    const int32_t undo = platform().file_create(journal_path.c_str());
    if (undo == -1) return failed("cannot create " + journal_path);
    const bool kept = File_WriteAll(undo, 0, journal.data(), static_cast<int64_t>(journal.size())) && platform().file_sync(undo);
    platform().file_close(undo);
    if (!kept || !platform().folder_sync(journal_path.c_str())) {
        platform().file_remove(journal_path.c_str());
        return failed("cannot write " + journal_path + "; the table is unchanged");
    }
    // The records in the order they lie, those next to one another written
    // as one piece.  (Writing the records between scattered ones back as
    // they are, to make fewer and larger writes, copies ten times the bytes
    // and is slower.)
    std::vector<const RecordDraft*> order;
    for (const RecordDraft& d : drafts) order.push_back(&d);
    std::stable_sort(order.begin(), order.end(), [](const RecordDraft* a, const RecordDraft* b) { return a->record < b->record; });
    std::string span;
    for (std::size_t i = 0; i < order.size();) {
        std::size_t j = i + 1;
        while (j < order.size() && order[j]->record - order[j - 1]->record <= 1 &&
               (order[j]->record - order[i]->record + 1) * record_length_ <= kChunkBytes)
            ++j;
        const int64_t first = order[i]->record, count = order[j - 1]->record - first + 1;
        const int64_t position = header_length_ + first * record_length_;
        span.resize(static_cast<std::size_t>(count * record_length_));
        bool ok = true;
        for (std::size_t k = i; ok && k < j; ++k)
            span.replace(static_cast<std::size_t>((order[k]->record - first) * record_length_),
                         static_cast<std::size_t>(record_length_), order[k]->bytes);
        if (!ok || !File_WriteAll(handle_, position, span.data(), count * record_length_))
            return failed("cannot write record " + std::to_string(first) + "; " + journal_path +
                          " holds the records as they were (hyl repair puts them back)");
        i = j;
    }
    piece_first_ = -1;
    uint8_t date[3];
    put_today(date);
    lvv_write_at(handle_, 1, date, 3);
    if (!flush_table())
        return failed("cannot flush the records to the disk; " + journal_path + " holds them as they were");
    // Emptied on the disk before it goes: a journal that reappears after a
    // cut says nothing and puts nothing back.
    const int32_t done = platform().file_open(journal_path.c_str(), kModeUpdate);
    const bool emptied = done != -1 && platform().file_set_length(done, 0) && platform().file_sync(done);
    if (done != -1) platform().file_close(done);
    if (!emptied) return failed("the records are written, but " + journal_path + " cannot be emptied: remove it");
    platform().file_remove(journal_path.c_str());
    return {};
}

WriteOutcome TableWriter::set_deleted(const std::vector<int64_t>& records, bool deleted) {
    if (handle_ == -1) return failed("the table is not open");
    const uint8_t flag = deleted ? '*' : ' ';
    for (int64_t r : records)
        if (r < 0 || r >= count_)
            return {WriteStatus::kRefused,
                    "record " + std::to_string(r) + " is not in the table (it has " + std::to_string(count_) + " records)"};
    for (int64_t r : records) {
        if (lvv_write_at(handle_, header_length_ + r * record_length_, &flag, 1) != 1)
            return failed("cannot write the deletion flag of record " + std::to_string(r));
    }
    piece_first_ = -1;
    if (!flush_table()) return failed("cannot flush the deletion flags to the disk");
    return {};
}

}  // namespace hyl
