// The Access reader's own parsers, in process: property blocks, the file
// header, long values, table definitions, the catalog and the message
// encoding, on crafted bytes and on in-memory copies of the real files.

#include <gtest/gtest.h>

#include <cstring>

#include "engine/backends/access/access_schema.h"
#include "engine/backends/access/jet_file.h"
#include "engine/backends/access/property_block.h"
#include "engine/backends/access/wire_format.h"
#include "engine/backends/access/worker_session.h"
#include "tests/engine/backends/access/access_fixtures.h"

namespace kesmark::access {
namespace {

using test::Le32Bytes;

std::string U16(std::uint16_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

// A property block built by hand: names are plain bytes (decoded as such).
struct BlockBuilder {
    std::string names;
    std::vector<std::string> valueChunks;

    BlockBuilder& Name(std::string_view n) {
        names += U16(static_cast<std::uint16_t>(n.size())) + std::string(n);
        return *this;
    }
    static std::string Record(std::uint16_t nameIndex, std::uint8_t type, std::string_view data) {
        return U16(static_cast<std::uint16_t>(8 + data.size())) + std::string(1, '\1') +
               std::string(1, static_cast<char>(type)) + U16(nameIndex) +
               U16(static_cast<std::uint16_t>(data.size())) + std::string(data);
    }
    BlockBuilder& Values(std::string_view objectName, const std::string& records) {
        const std::string nameBlock = Le32Bytes(static_cast<std::uint32_t>(6 + objectName.size())) +
                                      U16(static_cast<std::uint16_t>(objectName.size())) +
                                      std::string(objectName);
        valueChunks.push_back(nameBlock + records);
        return *this;
    }
    static std::string Chunk(std::uint16_t type, const std::string& body) {
        return Le32Bytes(static_cast<std::uint32_t>(6 + body.size())) + U16(type) + body;
    }
    std::string Build() const {
        std::string block("MR2\0", 4);
        block += Chunk(0x80, names);
        for (const auto& v : valueChunks) {
            block += Chunk(0x00, v);
        }
        return block;
    }
};

std::string PlainDecode(std::span<const std::uint8_t> b) {
    return std::string(b.begin(), b.end());
}

std::span<const std::uint8_t> Span(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Names: 0 Description, 1 Required. The table's own block describes it; the
// block of column "Col1" makes it required.
std::string SampleBlock() {
    return BlockBuilder()
        .Name("Description")
        .Name("Required")
        .Values("", BlockBuilder::Record(0, 10, "A table"))
        .Values("Col1", BlockBuilder::Record(1, 1, std::string(1, '\1')))
        .Build();
}

TEST(PropertyBlock, ReadsTheObjectsOwnBlockAndOneBlockPerColumn) {
    const auto maps = ParsePropertyBlock(Span(SampleBlock()), PlainDecode);
    ASSERT_EQ(maps.size(), 2u);
    EXPECT_EQ(maps[0].name, "");
    ASSERT_EQ(maps[0].properties.size(), 1u);
    EXPECT_EQ(maps[0].properties[0].name, "Description");
    EXPECT_EQ(StoredValue(maps[0].properties[0], PlainDecode), Value("A table"));
    EXPECT_EQ(maps[1].name, "Col1");
    ASSERT_EQ(maps[1].properties.size(), 1u);
    EXPECT_EQ(maps[1].properties[0].name, "Required");
    EXPECT_TRUE(maps[1].properties[0].ddl);
    EXPECT_EQ(StoredValue(maps[1].properties[0], PlainDecode), Value(true));
}

TEST(PropertyBlock, DamagedBlocksEndInAnErrorThatSaysWhat) {
    const std::string good = SampleBlock();
    // Offsets in the sample: the names chunk starts at 4, the first value
    // chunk right after it; its first record follows the 6-byte name part.
    const std::size_t namesChunk = 4;
    const std::size_t valuesChunk = namesChunk + test::Le32At(good, namesChunk);
    const std::size_t firstRecord = valuesChunk + 6 + 6;
    struct Case {
        const char* scenario;
        std::size_t offset;
        std::string bytes;
        const char* expected;
    };
    const Case cases[] = {
        {"a property record of length 0", firstRecord, U16(0),
         "a property record has the length 0"},
        {"a property record longer than its chunk", firstRecord, U16(500), "runs past its chunk"},
        {"a chunk of length 0", valuesChunk, Le32Bytes(0), "a chunk has the length 0"},
        {"a chunk longer than the block", valuesChunk, Le32Bytes(100000),
         "a chunk has the length 100000"},
        {"a name index past the name list", firstRecord + 4, U16(7), "names property 7 of 2"},
        {"a value longer than its record", firstRecord + 6, U16(200), "runs past its record"},
        {"an unknown signature", 0, "XYZ", "known signature"},
        {"an object name longer than its place", valuesChunk + 6, Le32Bytes(1), "has the length 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        std::string bad = good;
        bad.replace(c.offset, c.bytes.size(), c.bytes);
        try {
            ParsePropertyBlock(Span(bad), PlainDecode);
            ADD_FAILURE() << "no error";
        } catch (const FormatError& e) {
            EXPECT_EQ(e.Number(), errors::kDamaged);
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
        }
    }
}

TEST(PropertyBlock, ValuesBeforeTheNameListAreRefused) {
    const std::string body = Le32Bytes(6) + U16(0) + BlockBuilder::Record(0, 10, "x");
    const std::string block = std::string("KKD\0", 4) + BlockBuilder::Chunk(0x00, body);
    EXPECT_THROW(ParsePropertyBlock(Span(block), PlainDecode), FormatError);
}

TEST(PropertyBlock, EveryCutOfABlockParsesOrFailsCleanly) {
    const std::string good = SampleBlock();
    int failures = 0;
    for (std::size_t length = 0; length < good.size(); ++length) {
        try {
            ParsePropertyBlock(Span(good.substr(0, length)), PlainDecode);
        } catch (const FormatError&) {
            ++failures;
        }
    }
    // Only cuts at the end of a chunk (after the signature, the names, the
    // first values) leave a whole, shorter block.
    EXPECT_EQ(failures, static_cast<int>(good.size()) - 3);
}

TEST(PropertyBlock, StoredValuesTakeTheMeaningOfTheirDaoType) {
    struct Case {
        const char* scenario;
        std::uint8_t type;
        std::string data;
        Value expected;
    };
    const Case cases[] = {
        {"Boolean", 1, std::string(1, '\0'), Value(false)},
        {"Byte", 2, "\xFF", Value(255)},
        {"Integer stored in two bytes", 3, U16(0xFFFE), Value(-2)},
        {"Integer stored in four bytes", 3, Le32Bytes(8), Value(8)},
        {"Long", 4, Le32Bytes(0xFFFFFFFF), Value(-1)},
        {"Currency", 5, Le32Bytes(12345) + Le32Bytes(0), Value(Currency{12345})},
        {"Date", 8, std::string("\0\0\0\0\0\0\xF0\x3F", 8), Value(DateTime{1.0})},
        {"Double", 7, std::string("\0\0\0\0\0\0\xF0\x3F", 8), Value(1.0)},
        {"Text", 10, "abc", Value("abc")},
        {"Memo", 12, "long", Value("long")},
        {"Binary", 9, "\x01\x02", Value(Bytes{1, 2})},
        {"a Long of odd width stays bytes", 4, "\x01\x02\x03", Value(Bytes{1, 2, 3})},
        {"an empty Boolean is Null", 1, "", Value()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        StoredProperty p;
        p.type = c.type;
        p.data.assign(c.data.begin(), c.data.end());
        EXPECT_EQ(StoredValue(p, PlainDecode), c.expected);
    }
}

class RealFiles : public ::testing::Test {
  protected:
    void SetUp() override { KESMARK_REQUIRE_SHARED_TESTDATA(); }

    static std::vector<std::uint8_t> Image(std::string_view name) {
        const std::string bytes = test::ReadBytes(test::AccessFile(name));
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    }
};

TEST_F(RealFiles, HeadersGiveFormatVersionAndCollatingOrder) {
    struct Case {
        const char* file;
        const char* format;
        const char* version;
        std::uint32_t pageSize;
    };
    for (const auto& c : {Case{"nwind.mdb", "Jet 3", "3.0", 2048},
                          Case{"DateTestDatabase.mdb", "Jet 4", "4.0", 4096},
                          Case{"ASampleDatabase.accdb", "ACE 12", "12.0", 4096}}) {
        SCOPED_TRACE(c.file);
        const auto h = ParseHeader(Image(c.file));
        EXPECT_EQ(h.FormatName(), c.format);
        EXPECT_EQ(h.DaoVersion(), c.version);
        EXPECT_EQ(h.pageSize, c.pageSize);
        EXPECT_EQ(h.codePage, 1252);
        EXPECT_EQ(h.sortOrder, 1033);
        EXPECT_EQ(h.databaseKey, 0u);
        EXPECT_FALSE(h.hasPassword);
    }
}

TEST_F(RealFiles, APasswordInTheHeaderIsSeenInEveryFormat) {
    for (const char* file : {"nwind.mdb", "DateTestDatabase.mdb", "ASampleDatabase.accdb"}) {
        SCOPED_TRACE(file);
        auto image = Image(file);
        image[0x42] ^= 0x20;  // one character of the (encoded) password
        EXPECT_TRUE(ParseHeader(image).hasPassword);
    }
}

TEST_F(RealFiles, UnknownFormatsAreRefusedByTheHeader) {
    auto image = Image("nwind.mdb");
    image[0x14] = 9;
    try {
        ParseHeader(image);
        ADD_FAILURE() << "no error";
    } catch (const FormatError& e) {
        EXPECT_EQ(e.Number(), errors::kUnrecognizedFormat);
        EXPECT_NE(std::string(e.what()).find("version 9"), std::string::npos);
    }
    std::vector<std::uint8_t> text(4096, 'x');
    EXPECT_THROW(ParseHeader(text), FormatError);
}

TEST_F(RealFiles, TheCatalogOfEachFileIsReadWithoutTheLibrary) {
    struct Case {
        const char* file;
        std::size_t tables;
        std::size_t queries;
        std::size_t relations;
        std::size_t containers;
    };
    for (const auto& c :
         {Case{"nwind.mdb", 19, 22, 7, 9}, Case{"DateTestDatabase.mdb", 11, 0, 2, 9},
          Case{"ASampleDatabase.accdb", 21, 6, 1, 9}}) {
        SCOPED_TRACE(c.file);
        const auto image = Image(c.file);
        BufferPageSource source(image);
        JetFile file(source);
        const WireNode root = ReadSchema(file);
        ASSERT_EQ(root.collections.size(), 4u);
        EXPECT_EQ(root.collections[0].name, "TableDefs");
        EXPECT_EQ(root.collections[0].members.size(), c.tables);
        EXPECT_EQ(root.collections[1].name, "QueryDefs");
        EXPECT_EQ(root.collections[1].members.size(), c.queries);
        EXPECT_EQ(root.collections[2].members.size(), c.relations);
        EXPECT_EQ(root.collections[3].members.size(), c.containers);
    }
}

TEST_F(RealFiles, TextIsDecodedFromTheCodePageOrFromUcs2) {
    const auto jet3 = Image("nwind.mdb");
    BufferPageSource source3(jet3);
    JetFile file3(source3);
    EXPECT_EQ(file3.DecodeName(Span("Ums\xE4tze")), "Ums\xC3\xA4tze");
    EXPECT_EQ(file3.DecodeText(Span("\x80 and \x81")), "\xE2\x82\xAC and \xEF\xBF\xBD");

    const auto jet4 = Image("DateTestDatabase.mdb");
    BufferPageSource source4(jet4);
    JetFile file4(source4);
    struct Case {
        const char* scenario;
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        {"plain UCS-2", std::string("a\0\xE4\0", 4), "a\xC3\xA4"},
        {"compressed, switching to two-byte units and back",
         std::string("\xFF\xFE"
                     "ab\0c\0\0d",
                     9),
         "abcd"},
        {"a surrogate pair", std::string("\x3D\xD8\x00\xDE", 4), "\xF0\x9F\x98\x80"},
        {"a lone surrogate", std::string("\x3D\xD8", 2), "\xEF\xBF\xBD"},
        {"an odd trailing byte is dropped", std::string("a\0b", 3), "a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(file4.DecodeText(Span(c.bytes)), c.expected);
    }
}

TEST_F(RealFiles, LongValueChainsThatLoopOrBreakEndInAnError) {
    const std::string bytes = test::ReadBytes(test::AccessFile("nwind.mdb"));
    const std::uint32_t page = test::nwind::kProductsPropertiesPage;
    const std::size_t row = test::Jet3RowOffset(bytes, page, 0);
    // A chain header: 5000 bytes, more than the first piece holds, in a chain
    // starting at row 0 of the page.
    const std::string header = Le32Bytes(5000) + Le32Bytes(page << 8) + Le32Bytes(0);
    struct Case {
        const char* scenario;
        std::string nextPointer;  // written over the first piece's link
        const char* expected;
    };
    const Case cases[] = {
        {"a chain that points back to its first piece", Le32Bytes(page << 8), "loops back"},
        {"a chain that ends early", Le32Bytes(0), "ends after"},
        {"a chain that leaves the file", Le32Bytes(0x7FFFFF00), "beyond the end of the file"},
        {"a chain into a table definition page", Le32Bytes(2 << 8), "not a long value page"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        std::string patched = bytes;
        patched.replace(row, 4, c.nextPointer);
        std::vector<std::uint8_t> image(patched.begin(), patched.end());
        BufferPageSource source(image);
        JetFile file(source);
        try {
            file.ReadLongValue(Span(header), 1 << 20);
            ADD_FAILURE() << "no error";
        } catch (const FormatError& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
        }
    }
    std::vector<std::uint8_t> image(bytes.begin(), bytes.end());
    BufferPageSource source(image);
    JetFile file(source);
    EXPECT_THROW(file.ReadLongValue(Span(Le32Bytes(0x80000064) + std::string(8, '\0')), 1000),
                 FormatError)
        << "an inline value longer than its row";
    EXPECT_THROW(file.ReadLongValue(Span(header), 100), FormatError) << "longer than allowed";
}

TEST_F(RealFiles, DamagedTableDefinitionsEndInAnError) {
    const std::string bytes = test::ReadBytes(test::AccessFile("nwind.mdb"));
    const std::size_t tdef = test::nwind::kCustomersDefinitionPage * test::nwind::kPageSize;
    struct Case {
        const char* scenario;
        std::size_t offset;
        std::string replacement;
        const char* expected;
    };
    const Case cases[] = {
        {"continues on itself", tdef + 4, Le32Bytes(test::nwind::kCustomersDefinitionPage),
         "continues in a loop"},
        {"continues beyond the file", tdef + 4, Le32Bytes(0x00FFFFFF), "beyond the end"},
        {"announces 65535 columns", tdef + 25, U16(0xFFFF), "announces 65535 columns"},
        {"announces more columns than it holds", tdef + 25, U16(900), "ends early"},
        {"is not a table definition", tdef, std::string(1, '\x01'), "not a table definition"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        std::string patched = bytes;
        patched.replace(c.offset, c.replacement.size(), c.replacement);
        std::vector<std::uint8_t> image(patched.begin(), patched.end());
        BufferPageSource source(image);
        JetFile file(source);
        try {
            file.ReadTableDef(test::nwind::kCustomersDefinitionPage);
            ADD_FAILURE() << "no error";
        } catch (const FormatError& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
        }
        // The rest of the catalog is still read; the table carries the failure.
        const WireNode root = ReadSchema(file);
        const auto& tables = root.collections[0].members;
        const auto customers = std::find_if(
            tables.begin(), tables.end(), [](const WireNode& n) { return n.name == "Customers"; });
        ASSERT_NE(customers, tables.end());
        ASSERT_TRUE(customers->collections[0].failure.has_value());
        EXPECT_NE(customers->collections[0].failure->description.find("table 'Customers'"),
                  std::string::npos);
    }
}

TEST_F(RealFiles, TruncatedImagesEndInAnErrorOrAPartialSchema) {
    const auto whole = Image("nwind.mdb");
    for (const std::size_t pages : {1u, 2u, 3u, 7u, 100u, 700u, 1400u}) {
        SCOPED_TRACE(pages);
        std::vector<std::uint8_t> image(whole.begin(), whole.begin() + pages * 2048);
        BufferPageSource source(image);
        try {
            JetFile file(source);
            ReadSchema(file);
            EXPECT_GE(pages, 3u) << "not even the catalog's definition is there, yet no error";
        } catch (const FormatError& e) {
            EXPECT_EQ(e.Number(), errors::kDamaged) << e.what();
        }
    }
}

TEST(WireFormat, ASchemaSurvivesTheRoundTrip) {
    Reply reply;
    reply.kind = ReplyKind::kSchema;
    reply.schema.name = "db";
    reply.schema.properties = {
        {"Text", 10, Value("x"), {}},
        {"Number", 4, Value(-5), {}},
        {"Double", 7, Value(0.25), {}},
        {"Money", 5, Value(Currency{7}), {}},
        {"Decimal", 20, Value(Decimal{"1.5"}), {}},
        {"Date", 8, Value(DateTime{2.5}), {}},
        {"Blob", 9, Value(Bytes{0, 255}), {}},
        {"Null", 10, Value(), {}},
        {"Flag", 1, Value(true), {}},
        {"Broken", 4, Value(), WireError{3049, "unreadable"}},
    };
    reply.schema.propertiesFailure = WireError{1, "props"};
    WireCollection tables{"TableDefs", {}, {}};
    WireNode table;
    table.name = "T";
    table.collections.push_back(WireCollection{"Fields", {}, WireError{2, "no fields"}});
    tables.members.push_back(table);
    reply.schema.collections.push_back(tables);
    EXPECT_EQ(DecodeReply(EncodeReply(reply)).schema, reply.schema);

    Request request;
    request.kind = RequestKind::kSelfTest;
    request.mode = SelfTestMode::kCrash;
    const Request back = DecodeRequest(EncodeRequest(request));
    EXPECT_EQ(back.kind, RequestKind::kSelfTest);
    EXPECT_EQ(back.mode, SelfTestMode::kCrash);
}

TEST(WireFormat, DamagedMessagesAreRefusedBeforeAnythingIsAllocated) {
    Reply reply;
    reply.kind = ReplyKind::kSchema;
    reply.schema.name = "db";
    reply.schema.properties = {{"A", 10, Value("x"), {}}};
    reply.schema.collections.push_back(
        WireCollection{"TableDefs", {WireNode{"T", {}, {}, {}}}, {}});
    const std::string good = EncodeReply(reply);
    for (std::size_t length = 0; length < good.size(); ++length) {
        EXPECT_THROW(DecodeReply(good.substr(0, length)), WireFormatError) << length;
    }
    EXPECT_THROW(DecodeReply(good + "x"), WireFormatError) << "a trailing byte";

    // A node that claims four billion properties in a 20-byte message.
    const std::string huge = std::string(1, '\3') + Le32Bytes(0) + std::string(1, '\0') +
                             Le32Bytes(0xFFFFFFFF) + Le32Bytes(0);
    EXPECT_THROW(DecodeReply(huge), WireFormatError);

    // Collections nested deeper than any schema.
    std::string deep;
    for (int i = 0; i < 40; ++i) {
        deep += Le32Bytes(0) + std::string(1, '\0') + Le32Bytes(0) + Le32Bytes(1) + Le32Bytes(0) +
                std::string(1, '\0') + Le32Bytes(1);
    }
    EXPECT_THROW(DecodeReply(std::string(1, '\3') + deep), WireFormatError);

    EXPECT_THROW(DecodeRequest(std::string("\x04\x63", 2)), WireFormatError) << "unknown mode";
    EXPECT_THROW(DecodeRequest(std::string("\x63", 1)), WireFormatError) << "unknown request";
    EXPECT_THROW(DecodeReply(std::string("\x02", 1)), WireFormatError) << "error cut short";
}

TEST_F(RealFiles, TheSessionAnswersEveryRequestWithAReply) {
    WorkerSession session;
    const auto call = [&](const Request& request) {
        return DecodeReply(session.Handle(EncodeRequest(request)));
    };
    Request read;
    read.kind = RequestKind::kReadSchema;
    EXPECT_EQ(call(read).error.description, "No file is open.");

    Request open;
    open.kind = RequestKind::kOpenImage;
    open.image = Image("nwind.mdb");
    const Reply opened = call(open);
    ASSERT_EQ(opened.kind, ReplyKind::kOk) << opened.error.description;
    EXPECT_EQ(opened.text, "Jet 3");
    const Reply schema = call(read);
    ASSERT_EQ(schema.kind, ReplyKind::kSchema);
    EXPECT_EQ(schema.schema.collections[0].members.size(), 19u);

    Request selfTest;
    selfTest.kind = RequestKind::kSelfTest;
    EXPECT_EQ(call(selfTest).kind, ReplyKind::kError) << "no self tests without a handler";

    const Reply garbage = DecodeReply(session.Handle(std::string("\x01\xFF\xFF", 3)));
    EXPECT_EQ(garbage.kind, ReplyKind::kError);
    EXPECT_NE(garbage.error.description.find("malformed"), std::string::npos);

    open.image.assign(100, 0);
    EXPECT_EQ(call(open).error.number, errors::kUnrecognizedFormat);
}

// Kesmark keeps the outline (names) and asks for one member at a time; what
// it gets is the member of the whole schema, exactly.
TEST_F(RealFiles, TheOutlineNamesTheMembersAndEachMemberComesWhole) {
    WorkerSession session;
    const auto call = [&](const Request& request) {
        return DecodeReply(session.Handle(EncodeRequest(request)));
    };
    Request open;
    open.kind = RequestKind::kOpenImage;
    open.image = Image("nwind.mdb");
    ASSERT_EQ(call(open).kind, ReplyKind::kOk);
    Request whole;
    whole.kind = RequestKind::kReadSchema;
    const Reply schema = call(whole);
    Request outline;
    outline.kind = RequestKind::kReadOutline;
    const Reply names = DecodeReply(EncodeReply(call(outline)));
    ASSERT_EQ(names.kind, ReplyKind::kSchema);
    EXPECT_EQ(names.schema.properties, schema.schema.properties);
    ASSERT_EQ(names.schema.collections.size(), schema.schema.collections.size());
    for (std::size_t c = 0; c < schema.schema.collections.size(); ++c) {
        const WireCollection& full = schema.schema.collections[c];
        const WireCollection& listed = names.schema.collections[c];
        EXPECT_EQ(listed.name, full.name);
        EXPECT_EQ(listed.failure, full.failure);
        ASSERT_EQ(listed.members.size(), full.members.size()) << full.name;
        for (std::size_t m = 0; m < full.members.size(); ++m) {
            EXPECT_EQ(listed.members[m].name, full.members[m].name);
            EXPECT_TRUE(listed.members[m].properties.empty());
            EXPECT_TRUE(listed.members[m].collections.empty());
            Request member;
            member.kind = RequestKind::kReadMember;
            member.collection = full.name;
            member.member = static_cast<std::uint32_t>(m);
            const Reply one = DecodeReply(EncodeReply(call(DecodeRequest(EncodeRequest(member)))));
            ASSERT_EQ(one.kind, ReplyKind::kSchema);
            EXPECT_EQ(one.schema, full.members[m]) << full.name << "[" << m << "]";
        }
    }
    struct Case {
        const char* scenario;
        std::string collection;
        std::uint32_t member;
    };
    const Case refused[] = {
        {"past the end", "TableDefs", 100000},
        {"a collection the database has not", "Tables", 0},
    };
    for (const auto& c : refused) {
        Request member;
        member.kind = RequestKind::kReadMember;
        member.collection = c.collection;
        member.member = c.member;
        const Reply reply = call(member);
        EXPECT_EQ(reply.kind, ReplyKind::kError) << c.scenario;
        EXPECT_EQ(reply.error.number, errors::kItemNotFound) << c.scenario;
    }
}

}  // namespace
}  // namespace kesmark::access
