// Records of Access tables through the reader process: every value of the
// real files against their raw rows, the row order, moving, long values in
// pieces, and the data comparison of changed copies.

#include <gtest/gtest.h>

#include <bit>
#include <nlohmann/json.hpp>
#include <set>

#include "engine/backends/access/access_records.h"
#include "engine/backends/access/worker_session.h"
#include "engine/open_database.h"
#include "tests/engine/backends/access/access_fixtures.h"

namespace kesmark {
namespace {

using namespace access;
namespace fs = std::filesystem;

std::vector<std::uint8_t> Image(const char* name) {
    const auto bytes = test::ReadBytes(test::AccessFile(name));
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

class AccessRecords : public ::testing::Test {
  protected:
    void SetUp() override { KESMARK_REQUIRE_SHARED_TESTDATA(); }
    test::TempDir dir_;
};

// Whether a value is of the kind its DAO field type promises.
bool KindFits(int type, const Value& v) {
    switch (type) {
        case dao::kBoolean:
            return v.As<bool>() != nullptr;
        case dao::kByte:
        case dao::kInteger:
        case dao::kLong:
        case dao::kBigInt:
        case 101:  // complex column: its id
            return v.As<std::int64_t>() != nullptr;
        case dao::kCurrency:
            return v.As<Currency>() != nullptr;
        case dao::kSingle:
        case dao::kDouble:
            return v.As<double>() != nullptr;
        case dao::kDate:
            return v.As<DateTime>() != nullptr;
        case dao::kText:
        case dao::kMemo:
        case dao::kGuid:
            return v.As<std::string>() != nullptr;
        case dao::kDecimal:
            return v.As<Decimal>() != nullptr;
        default:
            return v.As<Bytes>() != nullptr;
    }
}

TEST_F(AccessRecords, EveryValueOfEveryTableMatchesItsRawRow) {
    for (const char* name : {"nwind.mdb", "DateTestDatabase.mdb", "ASampleDatabase.accdb"}) {
        SCOPED_TRACE(name);
        auto db = OpenDatabase(test::AccessFile(name).string(), "");
        const auto image = Image(name);
        BufferPageSource source(image);
        JetFile file(source);
        std::size_t values = 0;
        std::size_t nulls = 0;
        std::size_t longBytes = 0;
        auto tables = db->GetCollection("TableDefs");
        for (const auto& table : tables->Names()) {
            const auto page = FindTableDefinition(file, table);
            if (!page) {
                continue;  // a linked table
            }
            SCOPED_TRACE(table);
            const TableDef def = file.ReadTableDef(*page);
            std::vector<std::string> fields;
            for (const auto& c : def.columns) {
                fields.push_back(c.name);
            }
            auto rs = db->OpenRecordset(table, fields);
            std::size_t rows = 0;
            file.ForEachRow(def, [&](std::span<const std::uint8_t> raw) {
                ASSERT_FALSE(rs->IsEof()) << "row " << rows;
                const auto slices = file.CrackRow(def, raw);
                for (std::size_t f = 0; f < fields.size(); ++f) {
                    auto& field = rs->Field(f);
                    const Value v = field.GetValue();
                    const auto& raw = slices[f];
                    ++values;
                    if (def.columns[f].type == 0x01) {
                        EXPECT_EQ(v, Value(raw.boolValue));
                        continue;
                    }
                    ASSERT_EQ(v.IsNull(), raw.isNull) << fields[f] << " row " << rows;
                    if (raw.isNull) {
                        ++nulls;
                        EXPECT_EQ(field.FieldSize(), 0);
                        continue;
                    }
                    EXPECT_TRUE(KindFits(field.Type(), v)) << fields[f] << " row " << rows;
                    const auto type = def.columns[f].type;
                    if (type == 0x0B || type == 0x0C) {
                        const auto length = file.LongValueLength(raw.bytes);
                        longBytes += length;
                        if (const auto* bytes = v.As<Bytes>()) {
                            EXPECT_EQ(bytes->size(), length);
                            EXPECT_EQ(field.FieldSize(), static_cast<std::int64_t>(length));
                            EXPECT_EQ(*bytes, file.ReadLongValue(raw.bytes, length));
                        } else {
                            EXPECT_EQ(
                                v, Value(file.DecodeText(file.ReadLongValue(raw.bytes, length))));
                        }
                    } else if (type == 0x09) {
                        EXPECT_EQ(v, Value(Bytes(raw.bytes.begin(), raw.bytes.end())));
                    } else if (type == 0x0A) {
                        EXPECT_EQ(v, Value(file.DecodeText(raw.bytes)));
                    }
                }
                rs->MoveNext();
                ++rows;
            });
            EXPECT_TRUE(rs->IsEof());
            EXPECT_EQ(rows, def.rowCount);
        }
        EXPECT_GT(values, 100u);
        EXPECT_GT(nulls, 0u);
        if (std::string(name) == "nwind.mdb") {
            EXPECT_GT(longBytes, 100'000u) << "the photos are read whole";
        }
    }
}

TEST_F(AccessRecords, TypedValuesAreExact) {
    auto db = OpenDatabase(test::AccessFile("nwind.mdb").string(), "");
    auto rs = db->OpenRecordset("Orders", {"OrderID", "Freight", "OrderDate", "ShipRegion"});
    // The first row in stored order.
    EXPECT_EQ(rs->Field(0).GetValue(), Value(10330));
    EXPECT_EQ(rs->Field(1).GetValue(), Value(Currency{127500}));  // 12.75
    EXPECT_EQ(FormatDateTime(*rs->Field(2).GetValue().As<DateTime>()), "1994-11-16");
    EXPECT_TRUE(rs->Field(3).GetValue().IsText());
    EXPECT_EQ(rs->Field(1).SourceTable(), "Orders");
    EXPECT_EQ(rs->Field(1).SourceField(), "Freight");
    const auto props = rs->Field(1).GetProperties();
    EXPECT_EQ(props.Item("Type").GetValue(), Value(dao::kCurrency));
    EXPECT_EQ(props.Item("Value").GetValue(), Value(Currency{127500}));
}

TEST_F(AccessRecords, RowOrderDoesNotDependOnTheFieldsAndMoveSkipsRows) {
    auto db = OpenDatabase(test::AccessFile("nwind.mdb").string(), "");
    std::vector<Value> alone;
    for (auto rs = db->OpenRecordset("Order Details", {"OrderID"}); !rs->IsEof(); rs->MoveNext()) {
        alone.push_back(rs->Field(0).GetValue());
    }
    ASSERT_GT(alone.size(), 2 * 1024u) << "more than one batch";
    std::vector<Value> withOthers;
    for (auto rs = db->OpenRecordset("Order Details", {"Discount", "ProductID", "OrderID"});
         !rs->IsEof(); rs->MoveNext()) {
        withOthers.push_back(rs->Field(2).GetValue());
    }
    EXPECT_EQ(alone, withOthers);

    auto rs = db->OpenRecordset("Order Details", {"OrderID"});
    rs->Move(0);
    EXPECT_EQ(rs->Field(0).GetValue(), alone[0]);
    rs->Move(1500);
    EXPECT_EQ(rs->Field(0).GetValue(), alone[1500]);
    rs->Move(static_cast<std::int64_t>(alone.size()));
    EXPECT_TRUE(rs->IsEof());
    try {
        rs->Field(0).GetValue();
        ADD_FAILURE() << "no error at EOF";
    } catch (const DbError& e) {
        EXPECT_EQ(e.Number(), errors::kNoCurrentRecord);
    }
}

TEST_F(AccessRecords, LongValuesReadInPiecesEqualTheWholeValue) {
    auto db = OpenDatabase(test::AccessFile("nwind.mdb").string(), "");
    // The largest value: the photos of the employees, read in pieces of one
    // page and of odd sizes, must give the value whole.
    auto rs = db->OpenRecordset("Employees", {"Photo", "Notes"});
    std::int64_t largest = 0;
    for (; !rs->IsEof(); rs->MoveNext()) {
        auto& photo = rs->Field(0);
        const auto size = photo.FieldSize();
        largest = std::max(largest, size);
        const Value whole = photo.GetValue();
        if (whole.IsNull()) {
            continue;
        }
        for (const std::size_t piece : {std::size_t{2048}, std::size_t{777}}) {
            Bytes joined;
            for (std::int64_t at = 0; at < size; at += static_cast<std::int64_t>(piece)) {
                const Bytes part = photo.GetChunk(at, piece);
                ASSERT_FALSE(part.empty());
                joined.insert(joined.end(), part.begin(), part.end());
            }
            EXPECT_TRUE(photo.GetChunk(size, piece).empty());
            EXPECT_EQ(Value(joined), whole);
        }
        auto& notes = rs->Field(1);
        const auto text = notes.GetValue();
        ASSERT_TRUE(text.As<std::string>());
        EXPECT_EQ(notes.FieldSize(), static_cast<std::int64_t>(text.As<std::string>()->size()));
        const Bytes tail = notes.GetChunk(notes.FieldSize() - 3, 100);
        EXPECT_EQ(std::string(tail.begin(), tail.end()),
                  text.As<std::string>()->substr(text.As<std::string>()->size() - 3));
    }
    EXPECT_GT(largest, 20'000);
}

TEST_F(AccessRecords, ABatchReadAgainOrOutOfTurnGivesTheSameRows) {
    WorkerSession session;
    const auto call = [&](const Request& request) {
        return DecodeReply(session.Handle(EncodeRequest(request)));
    };
    Request open;
    open.kind = RequestKind::kOpenFile;
    open.path = test::AccessFile("nwind.mdb").string();
    ASSERT_EQ(call(open).kind, ReplyKind::kOk);
    Request rows;
    rows.kind = RequestKind::kReadRows;
    rows.table = "Order Details";
    rows.fields = {"OrderID", "ProductID"};
    rows.maxRows = 1000;
    const auto batch = [&](std::uint64_t first) {
        rows.firstRow = first;
        const Reply reply = call(rows);
        EXPECT_EQ(reply.kind, ReplyKind::kRows);
        return reply.rows;
    };
    const auto first = batch(0);
    const auto second = batch(1000);  // where the first ended
    const auto third = batch(2000);
    EXPECT_EQ(first.size(), 1000u);
    EXPECT_EQ(second.size(), 1000u);
    EXPECT_NE(first, second);
    EXPECT_EQ(batch(1000), second) << "read again, not where the last batch ended";
    EXPECT_EQ(batch(0), first);
    rows.maxRows = 2000;
    const auto both = batch(1000);
    ASSERT_EQ(both.size(), 1000u + third.size());
    EXPECT_TRUE(std::equal(third.begin(), third.end(), both.begin() + 1000));
}

TEST_F(AccessRecords, AChunkRequestForADamagedReferenceIsAnError) {
    const auto image = Image("nwind.mdb");
    BufferPageSource source(image);
    JetFile file(source);
    Request request;
    request.kind = RequestKind::kReadChunk;
    request.count = 100;
    const struct {
        const char* scenario;
        std::vector<std::uint8_t> reference;
    } cases[] = {
        {"a page beyond the file", {0x10, 0, 0, 0, 0x00, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}},
        {"a page that holds no long values", {0x10, 0, 0, 0x40, 0x00, 0x02, 0, 0, 0, 0, 0, 0}},
        {"a chain that ends early", {0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        request.longValue = c.reference;
        EXPECT_THROW(ReadChunk(file, request), FormatError);
    }
}

TEST_F(AccessRecords, EachColumnTypeBecomesItsExactValue) {
    const auto image = Image("nwind.mdb");
    BufferPageSource source(image);
    JetFile file(source);
    const auto le = [](std::uint64_t v, int n) {
        std::vector<std::uint8_t> out;
        for (int i = 0; i < n; ++i) {
            out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
        return out;
    };
    const auto dbl = [&](double d) { return le(std::bit_cast<std::uint64_t>(d), 8); };
    // A decimal: sign byte, then four 32-bit words, most significant first.
    const auto decimal = [&](bool negative, std::uint64_t low, std::uint32_t high) {
        std::vector<std::uint8_t> out{static_cast<std::uint8_t>(negative ? 0x80 : 0)};
        for (const std::uint32_t word :
             {0u, high, static_cast<std::uint32_t>(low >> 32), static_cast<std::uint32_t>(low)}) {
            const auto bytes = le(word, 4);
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
        return out;
    };
    struct Case {
        const char* scenario;
        std::uint8_t type;
        std::uint8_t scale;
        std::vector<std::uint8_t> bytes;
        Value expected;
    };
    const Case cases[] = {
        {"a byte above 127", 0x02, 0, {200}, Value(200)},
        {"a negative integer", 0x03, 0, le(0xFFFE, 2), Value(-2)},
        {"the smallest long", 0x04, 0, le(0x80000000u, 4), Value(-2147483647LL - 1)},
        {"a negative currency", 0x05, 0, le(static_cast<std::uint64_t>(-12345), 8),
         Value(Currency{-12345})},
        {"a single keeps its float value", 0x06, 0, le(std::bit_cast<std::uint32_t>(0.1f), 4),
         Value(static_cast<double>(0.1f))},
        {"a date in the year 100", 0x08, 0, dbl(-657434.0), Value(DateTime{-657434.0})},
        {"a date at the end of 9999", 0x08, 0, dbl(2958465.999988426),
         Value(DateTime{2958465.999988426})},
        {"a GUID, first groups little-endian",
         0x0F,
         0,
         {0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0x78, 0x56, 0x9A, 0xBC, 0xDE, 0xF0, 0x01, 0x23, 0x45,
          0x67},
         Value("{12345678-1234-5678-9ABC-DEF001234567}")},
        {"a decimal with scale", 0x10, 2, decimal(false, 12345, 0), Value(Decimal{"123.45"})},
        {"a negative decimal below one", 0x10, 4, decimal(true, 5, 0), Value(Decimal{"-0.0005"})},
        {"a decimal beyond 64 bits", 0x10, 0, decimal(false, 0, 1),
         Value(Decimal{"18446744073709551616"})},
        {"a negative zero decimal", 0x10, 1, decimal(true, 0, 0), Value(Decimal{"0.0"})},
        {"an empty text is not Null", 0x0A, 0, {}, Value("")},
        {"a binary value with zero bytes", 0x09, 0, {0, 1, 0}, Value(Bytes{0, 1, 0})},
        {"a long binary value inside its row, with zero bytes",
         0x0B,
         0,
         {3, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0},
         Value(Bytes{0, 7, 0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        ColumnDef column;
        column.type = c.type;
        column.scale = c.scale;
        column.name = "c";
        FieldSlice slice;
        slice.isNull = false;
        slice.bytes = c.bytes;
        const WireCell cell = ReadCell(file, column, slice);
        EXPECT_FALSE(cell.isLongReference);
        EXPECT_EQ(cell.value, c.expected);
    }
    ColumnDef text;
    text.type = 0x0A;
    EXPECT_TRUE(ReadCell(file, text, FieldSlice{}).value.IsNull()) << "Null stays Null";
    ColumnDef currency;
    currency.type = 0x05;
    const std::vector<std::uint8_t> shortBytes{1, 2, 3};
    FieldSlice cut;
    cut.isNull = false;
    cut.bytes = shortBytes;
    EXPECT_THROW(ReadCell(file, currency, cut), FormatError) << "a value cut short";
}

TEST(AccessRecordsWire, RowsAndPiecesSurviveTheRoundTripAndDamageIsRefused) {
    Reply rows;
    rows.kind = ReplyKind::kRows;
    rows.tableEnds = true;
    WireCell reference;
    reference.isLongReference = true;
    reference.longSize = 70000;
    reference.longValue.assign(kLongValueHeaderBytes, 0x11);
    rows.rows = {{WireCell{Value(1), false, 0, {}}, reference},
                 {WireCell{Value(), false, 0, {}}, WireCell{Value(""), false, 0, {}}}};
    const std::string good = EncodeReply(rows);
    const Reply back = DecodeReply(good);
    EXPECT_EQ(back.rows, rows.rows);
    EXPECT_TRUE(back.tableEnds);
    for (std::size_t length = 0; length < good.size(); ++length) {
        EXPECT_THROW(DecodeReply(good.substr(0, length)), WireFormatError) << length;
    }

    Request read;
    read.kind = RequestKind::kReadRows;
    read.table = "Order Details";
    read.fields = {"OrderID", "UnitPrice"};
    read.firstRow = 5000;
    read.maxRows = kMaxRowsPerReply;
    const Request readBack = DecodeRequest(EncodeRequest(read));
    EXPECT_EQ(readBack.table, read.table);
    EXPECT_EQ(readBack.fields, read.fields);
    EXPECT_EQ(readBack.firstRow, read.firstRow);
    read.maxRows = kMaxRowsPerReply + 1;
    EXPECT_THROW(DecodeRequest(EncodeRequest(read)), WireFormatError) << "too many rows";

    Request chunk;
    chunk.kind = RequestKind::kReadChunk;
    chunk.longValue.assign(kLongValueHeaderBytes, 0);
    chunk.offset = 4096;
    chunk.count = kMaxChunkBytes;
    EXPECT_EQ(DecodeRequest(EncodeRequest(chunk)).offset, 4096u);
    chunk.count = kMaxChunkBytes + 1;
    EXPECT_THROW(DecodeRequest(EncodeRequest(chunk)), WireFormatError) << "too large a piece";
    chunk.count = 1;
    chunk.longValue.resize(11);
    EXPECT_THROW(DecodeRequest(EncodeRequest(chunk)), WireFormatError) << "a short reference";

    reference.longValue.resize(4);
    rows.rows = {{reference}};
    EXPECT_THROW(DecodeReply(EncodeReply(rows)), WireFormatError) << "a short reference";
    // A reply that claims four billion rows in a few bytes.
    const std::string huge = std::string("\x04\x00", 2) + test::Le32Bytes(0xFFFFFFFF);
    EXPECT_THROW(DecodeReply(huge), WireFormatError);
}

class AccessDataCli : public AccessRecords {
  protected:
    test::DiffResult DiffData(const fs::path& a, const fs::path& b) {
        return test::RunDiff(
            {"--json", "--data", "--settings", settings_.string(), a.string(), b.string()});
    }
    test::DiffResult Show(const std::string& key, const fs::path& a, const fs::path& b) {
        return test::RunDiff(
            {"--data", "--show", key, "--settings", settings_.string(), a.string(), b.string()});
    }
    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::size_t at = 0;
        while (at < text.size()) {
            const auto end = text.find('\n', at);
            lines.push_back(text.substr(at, end - at));
            at = end == std::string::npos ? text.size() : end + 1;
        }
        return lines;
    }
    static std::set<std::string> Differing(const std::string& out) {
        std::set<std::string> keys;
        const auto doc = nlohmann::json::parse(out);
        for (const auto& n : doc.at("nodes")) {
            if (n.at("image").get<int>() % 2 == 0) {
                keys.insert(n.at("key").get<std::string>());
            }
        }
        return keys;
    }
    fs::path settings_ = test::DefaultSettings(dir_.Path());
};

TEST_F(AccessDataCli, NorthwindAgainstItselfHasTheSameData) {
    const auto nwind = test::AccessFile("nwind.mdb");
    const auto result = DiffData(nwind, nwind);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
}

TEST_F(AccessDataCli, OneValueChangedInPlaceShowsOneRecordOfThatField) {
    const auto nwind = test::AccessFile("nwind.mdb");
    const std::string bytes = test::ReadBytes(nwind);
    struct Case {
        const char* scenario;
        const char* table;
        std::size_t row;
        const char* field;
        std::size_t at;  // from the start of the value; npos: its last byte
    };
    const Case cases[] = {
        {"a currency value", "Orders", 40, "Freight", 2},
        {"a date", "Orders", 70, "OrderDate", 3},
        {"a memo's last character", "Employees", 2, "Notes", std::string::npos},
        {"one byte of a photo", "Employees", 5, "Photo", 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto stored = test::Jet3ValueBytes(bytes, c.table, c.row, c.field);
        ASSERT_NE(stored.offset, std::string::npos);
        const std::size_t offset =
            stored.offset + (c.at == std::string::npos ? stored.length - 1 : c.at);
        const char changed = static_cast<char>(bytes[offset] ^ 0x01);
        const auto copy =
            test::WritePatched(dir_.Path(), "changed.mdb", bytes, offset, std::string(1, changed));
        const auto result = DiffData(nwind, copy);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_EQ(result.err, "");
        // The table's rows are read in the order of its primary key, not as
        // stored: one changed row, and the first record of the field that
        // differs at that row's place in key order.
        const std::string table = std::string("TableDefs[") + c.table + "]";
        const std::string field = table + ".Fields[" + c.field + "]";
        std::string record;
        std::string row;
        std::set<std::string> others;
        for (const auto& key : Differing(result.out)) {
            if (key.starts_with(field + ".Records[")) {
                record = key;
            } else if (key.starts_with(table + ".Rows[")) {
                row = key;
            } else {
                others.insert(key);
            }
        }
        EXPECT_EQ(others, (std::set<std::string>{"Databases", table, field}));
        ASSERT_FALSE(record.empty());
        ASSERT_FALSE(row.empty());
        // Both name the changed pair: the row differs in that field alone.
        const auto shownRow = Show(row, nwind, copy);
        EXPECT_EQ(shownRow.exitCode, 1) << shownRow.out << shownRow.err;
        std::set<std::string> differingFields;
        for (const auto& line : Lines(shownRow.out)) {
            if (line.starts_with("differs  ")) {
                differingFields.insert(line.substr(9, line.find(' ', 9) - 9));
            }
        }
        EXPECT_EQ(differingFields, std::set<std::string>{c.field}) << shownRow.out;
        const auto shownRecord = Show(record, nwind, copy);
        EXPECT_NE(shownRecord.out.find("\ndiffers  Value"), std::string::npos) << shownRecord.out;
    }
}

}  // namespace
}  // namespace kesmark
