// The typed reader: a table's layout, code page and memo file, and each
// field's bytes read as the value its type says.
#include "tables/table.h"

#include <algorithm>
#include <cstring>

#include "lowlevel/lv.h"
#include "platform/platform.h"

namespace hyl {
namespace {

constexpr int64_t kHeadBytes = 16 << 10;    // enough for 255 dBASE 7 descriptors

// The first bytes of the file at PATH, for telling layouts apart when the
// snapshot would not open it.
std::vector<uint8_t> head_of(const std::string& path) {
    std::vector<uint8_t> head;
    const int32_t handle = platform().file_open(path.c_str(), kModeShareRead);
    if (handle == -1) return head;
    const int64_t length = std::min(std::max<int64_t>(platform().file_length(handle), 0), kHeadBytes);
    head.resize(static_cast<std::size_t>(length));
    if (!Snapshot_ReadAt(handle, length, 0, head.data(), length)) head.clear();
    lvv_close(handle);
    return head;
}

// The text of STEM.cpg in any letter case, empty when there is none.
std::string cpg_text(const std::string& stem) {
    for (int letters = 0; letters < 8; ++letters) {
        std::string path = stem + '.';
        for (int k = 0; k < 3; ++k) path += static_cast<char>(letters >> k & 1 ? "CPG"[k] : "cpg"[k]);
        const int32_t handle = platform().file_open(path.c_str(), kModeShareRead);
        if (handle == -1) continue;
        char text[64] = {};
        const int64_t length = std::min<int64_t>(std::max<int64_t>(platform().file_length(handle), 0), sizeof text - 1);
        const bool read = Snapshot_ReadAt(handle, length, 0, reinterpret_cast<uint8_t*>(text), length);
        lvv_close(handle);
        // A .cpg that says nothing readable says nothing.
        return read ? std::string(text, strnlen(text, static_cast<std::size_t>(length))) : std::string();
    }
    return {};
}

}  // namespace

bool TableReader::has_memo_fields() const {
    return std::any_of(fields_.begin(), fields_.end(), [](const TableField& f) { return f.memo; });
}

ReaderStatus TableReader::open(const std::string& path, const ReaderOptions& options) {
    fields_.clear();
    memo_.close();
    layout_ = {};
    context_ = {};
    path_ = path;
    error_.clear();
    auto refuse = [&](ReaderStatus status, std::string why) {
        scan_.close();
        error_ = std::move(why);
        return status;
    };
    const SnapshotStatus status = scan_.open(path.c_str(), options.for_update);
    switch (status) {
        case SnapshotStatus::kOpened: break;
        case SnapshotStatus::kMissing: return refuse(ReaderStatus::kMissing, "no such file");
        case SnapshotStatus::kInUse: return refuse(ReaderStatus::kInUse, "in use by another program");
        case SnapshotStatus::kUnreadable: return refuse(ReaderStatus::kUnreadable, "cannot be read");
        case SnapshotStatus::kNotATable: {
            const std::vector<uint8_t> head = head_of(path);
            const std::string other = Layout_Refusal(head.data(), static_cast<int64_t>(head.size()));
            return other.empty() ? refuse(ReaderStatus::kNotATable, "not a dBASE table")
                                 : refuse(ReaderStatus::kOtherLayout, other);
        }
    }
    {
        std::vector<uint8_t> head(static_cast<std::size_t>(std::min(scan_.file_length(), kHeadBytes)));
        if (!scan_.read(0, head.data(), static_cast<int64_t>(head.size())))
            return refuse(ReaderStatus::kUnreadable, "cannot be read");
        const std::string other = Layout_Refusal(head.data(), static_cast<int64_t>(head.size()));
        if (!other.empty()) return refuse(ReaderStatus::kOtherLayout, other);
    }
    layout_ = Layout_Read(scan_);
    scan_.lay_records(layout_.stride, layout_.reach);

    std::string unknown;
    if (!CodePage_Choose({options.encoding, layout_.language_driver, cpg_text(Memo_Stem(path)), scan_.language()},
                         &code_page_, &unknown))
        return refuse(ReaderStatus::kUnknownEncoding, "'" + unknown + "' names no code page");
    if (!codec_.set(code_page_.codepage))
        return refuse(ReaderStatus::kUnknownEncoding,
                      CodePage_Name(code_page_.codepage) + " is not one this system converts");

    const bool vfp = visual_foxpro();
    int32_t bit = 0, null_flags = -1;
    for (const LayoutField& l : layout_.fields) {
        TableField f;
        f.type = l.type;
        f.length = l.length;
        f.decimals = l.decimals;
        f.offset = l.offset;
        f.rule = Field_RuleOf(l.type, layout_.format);
        codec_.append_utf8(f.name, Field_StoredText(reinterpret_cast<const uint8_t*>(l.name.data()),
                                                    static_cast<int32_t>(l.name.size())));
        f.hidden = f.rule == FieldRule::kNullFlags;
        f.memo = f.rule == FieldRule::kMemo;
        f.binary = f.rule == FieldRule::kVarbinary || (f.memo && l.type != 'M');
        if (vfp) {
            // Visual FoxPro gives each V and Q field a bit that says its value
            // is shorter than the field, then each nullable field a bit that
            // says it holds none, in the order of the fields.
            if (l.type == 'V' || l.type == 'Q') f.length_bit = bit++;
            f.nullable = (l.flags & 0x02) != 0 && !f.hidden;
            if (f.nullable) f.null_bit = bit++;
        }
        if (f.hidden && null_flags < 0) null_flags = static_cast<int32_t>(fields_.size());
        fields_.push_back(std::move(f));
    }
    // Bits the _NullFlags field has no room for say nothing.
    const int32_t room = null_flags >= 0 ? 8 * fields_[static_cast<std::size_t>(null_flags)].length : 0;
    for (TableField& f : fields_) {
        if (f.null_bit >= room) f.null_bit = -1;
        if (f.length_bit >= room) f.length_bit = -1;
    }
    if (has_memo_fields()) memo_.open(path, scan_.version());
    context_.codec = &codec_;
    context_.memo = &memo_;
    context_.memo_bytes = &memo_bytes_;
    context_.null_flags_offset = null_flags >= 0 ? fields_[static_cast<std::size_t>(null_flags)].offset : -1;
    context_.null_flags_bits = room;
    return ReaderStatus::kOpened;
}

bool TableReader::for_each_batch(int64_t first, int64_t end, const std::function<bool(const RecordBatch&)>& visit) const {
    RecordBatch batch;
    batch.fields_ = &fields_;
    batch.context_ = &context_;
    batch.record_length_ = scan_.stride();
    return scan_.for_each_block(first, end, [&](int64_t from, int64_t count, const uint8_t* bytes) {
        batch.first_ = from;
        batch.size_ = count;
        batch.bytes_ = bytes;
        return visit(batch);
    });
}

bool TableReader::read_column(int32_t field, int64_t first, int64_t end,
                        const std::function<void(int64_t record, const Value&)>& visit) const {
    Value v;
    return for_each_batch(first, end, [&](const RecordBatch& batch) {
        for (int64_t k = 0; k < batch.size(); ++k) {
            batch.value(k, field, v);
            visit(batch.first() + k, v);
        }
        return true;
    });
}

namespace {

ValueProblem decode_with(const std::vector<TableField>& fields, const FieldContext& context, const uint8_t* record,
                         int32_t field, Value& out) {
    if (field < 0 || field >= static_cast<int32_t>(fields.size())) {
        out.kind = ValueKind::kNull;
        out.text.clear();
        return ValueProblem::kNone;
    }
    return Field_Read(fields[static_cast<std::size_t>(field)], record, context, out);
}

}  // namespace

ValueProblem RecordBatch::value(int64_t k, int32_t field, Value& out) const {
    return decode_with(*fields_, *context_, record(k), field, out);
}

ValueProblem TableReader::decode(const uint8_t* record, int32_t field, Value& out) const {
    return decode_with(fields_, context_, record, field, out);
}

int32_t TableReader::find_field(std::string_view name) const {
    for (std::size_t f = 0; f < fields_.size(); ++f)
        if (!fields_[f].hidden && fields_[f].name == name) return static_cast<int32_t>(f);
    return -1;
}

TableCursor::TableCursor(const TableReader& table) : table_(table), context_(table.context_) {
    // Where the reader found a memo file, the cursor reads the same one;
    // should it not open now (gone, or held), no record is read, rather
    // than every memo read as missing.
    memo_lost_ = table.memo() && !memo_.open(table.path_, table.scan_.version());
    context_.memo = &memo_;
    context_.memo_bytes = &memo_bytes_;
}

bool TableCursor::for_each_batch(int64_t first, int64_t end, const std::function<bool(const RecordBatch&)>& visit) {
    if (memo_lost_ && first < end) return false;
    RecordBatch batch;
    batch.fields_ = &table_.fields_;
    batch.context_ = &context_;
    batch.record_length_ = table_.scan_.stride();
    return table_.scan_.for_each_block(
        first, end,
        [&](int64_t from, int64_t count, const uint8_t* bytes) {
            batch.first_ = from;
            batch.size_ = count;
            batch.bytes_ = bytes;
            return visit(batch);
        },
        &block_);
}

ValueProblem TableCursor::decode(const uint8_t* record, int32_t field, Value& out) {
    return decode_with(table_.fields_, context_, record, field, out);
}

}  // namespace hyl
