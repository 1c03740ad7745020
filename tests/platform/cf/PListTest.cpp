#include "platform/cf/PList.h"

#include "support/TempDir.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <gtest/gtest.h>

namespace {

PRef<PValue> RoundTrip(const PValue& v)
{
    std::string xml;
    EXPECT_TRUE(PListCreateXMLData(v, xml));
    return PListCreateFromData(xml, true);
}

} // namespace

TEST(PList, IntegersRoundTripAsPlainSignedIntegers)
{
    const int64_t values[] = {0, 1, -1, INT32_MAX, INT32_MIN, int64_t(INT32_MAX) + 1, int64_t(INT32_MIN) - 1};
    for (int64_t v : values) {
        auto d = PDictionary::CreateMutable();
        d->Set("n", PNum(v));
        std::string xml;
        ASSERT_TRUE(PListCreateXMLData(*d, xml));
        // Any property-list reader must read it back: a plain decimal, signed.
        EXPECT_NE(xml.find("<integer>" + std::to_string(v) + "</integer>"), std::string::npos) << xml;
        auto back = PRefCast<PDictionary>(PListCreateFromData(xml, false));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->GetAs<PNumber>("n")->Int64(), v);
    }
    int32_t out = 0;
    EXPECT_TRUE(PNum(INT32_MIN)->GetInt32(out));
    EXPECT_EQ(out, INT32_MIN);
    EXPECT_FALSE(PNum(int64_t(INT32_MAX) + 1)->GetInt32(out));
}

TEST(PList, EveryTypeRoundTrips)
{
    auto d = PDictionary::CreateMutable();
    d->Set("s", PStr("text \xE6\x97\xA5 & <tag>"));
    d->Set("t", PBoolean::Create(true));
    d->Set("f", PBoolean::Create(false));
    d->Set("r", PNumber::CreateReal(2.5));
    const uint8_t bytes[] = {0, 1, 2, 0xFF};
    d->Set("d", PData::Create(bytes, sizeof bytes));
    d->Set("empty", PData::Create(nullptr, 0));
    d->Set("a", PArray::Create({PNum(1), PStr("two")}));
    d->Set("date", PDate::Create(123456789.0));
    auto inner = PDictionary::CreateMutable();
    inner->Set("k", PStr(""));
    d->Set("dict", inner);
    auto back = RoundTrip(*d);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->Equals(*d));
    EXPECT_EQ(back->Type(), PType::Dictionary);
    EXPECT_EQ(PValue::As<PDictionary>(back.get())->GetAs<PBoolean>("t")->Value(), true);
}

TEST(PList, KeyOrderSurvivesARoundTrip)
{
    auto d = PDictionary::CreateMutable();
    for (const char* k : {"b", "a", "c", "Z"}) d->Set(k, PNum(1));
    auto back = PRefCast<PDictionary>(RoundTrip(*d));
    ASSERT_TRUE(back);
    std::string order;
    for (const auto& e : back->Entries()) order += e.first;
    EXPECT_EQ(order, "bacZ");
}

TEST(PList, ReadsBinaryPropertyLists)
{
    // A binary property list holding the dictionary {"a": 1}.
    const unsigned char bin[] = {
        'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xD1, 0x01, 0x02, 0x51, 'a', 0x10, 0x01, 0x08, 0x0B, 0x0D,
        0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0F};
    auto v = PRefCast<PDictionary>(PListCreateFromData(std::string_view(reinterpret_cast<const char*>(bin), sizeof bin), false));
    ASSERT_TRUE(v);
    ASSERT_NE(v->GetAs<PNumber>("a"), nullptr);
    EXPECT_EQ(v->GetAs<PNumber>("a")->Int64(), 1);
}

TEST(PList, MutableOrNotAsAsked)
{
    const std::string xml = "<plist version=\"1.0\"><dict><key>a</key><array><integer>1</integer></array></dict></plist>";
    auto m = PListCreateFromData(xml, true);
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->IsMutable());
    EXPECT_TRUE(PValue::As<PDictionary>(m.get())->Get("a")->IsMutable());
    auto i = PListCreateFromData(xml, false);
    EXPECT_FALSE(i->IsMutable());
    EXPECT_FALSE(PValue::As<PDictionary>(i.get())->Get("a")->IsMutable());
}

TEST(PList, FilesThatDoNotParseAreReportedAsSuch)
{
    TempDir tmp;
    struct Case {
        const char* name;
        const char* content; // nullptr: no file
        PListReadResult expected;
    } cases[] = {
        {"missing", nullptr, PListReadResult::NotFound},
        {"empty", "", PListReadResult::NotAPropertyList},
        {"garbage", "this is not a property list", PListReadResult::NotAPropertyList},
        {"cut", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><str", PListReadResult::NotAPropertyList},
        {"good", "<plist version=\"1.0\"><dict/></plist>", PListReadResult::Ok},
    };
    for (const auto& c : cases) {
        const std::string path = tmp / c.name;
        if (c.content) WriteFileText(path, c.content);
        PRef<PValue> out;
        EXPECT_EQ(PListReadFile(path, true, out), c.expected) << c.name;
        EXPECT_EQ(bool(out), c.expected == PListReadResult::Ok) << c.name;
    }
}

namespace {

// A binary property list holding one date, `seconds` after 2001-01-01.
std::string BinaryDate(double seconds)
{
    std::string b = "bplist00\x33";
    uint64_t bits = 0;
    std::memcpy(&bits, &seconds, 8);
    for (int i = 0; i < 8; ++i) b += static_cast<char>(bits >> (56 - 8 * i));
    b += char(8); // offset table: the one object at 8
    std::string trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = 1;
    trailer[31] = 17;
    return b + trailer;
}

} // namespace

TEST(PList, DatesAreKeptExactlyAsLibplistHoldsThem)
{
    struct Case {
        const char* name;
        double seconds;
        const char* xml; // the written form (whole seconds)
    };
    const Case cases[] = {
        {"1900-01-01", -3187296000.0, "1900-01-01T00:00:00Z"},
        {"2200-06-01", 6292900800.0, "2200-06-01T12:00:00Z"},
        {"with a fraction", 1234.5, "2001-01-01T00:20:34Z"},
        {"before 2001 with a fraction", -10.5, "2000-12-31T23:59:50Z"},
    };
    for (const auto& c : cases) {
        auto v = PListCreateFromData(BinaryDate(c.seconds), false);
        const auto* d = PValue::As<PDate>(v.get());
        ASSERT_TRUE(d) << c.name;
        EXPECT_EQ(d->Seconds(), c.seconds) << c.name;
        std::string xml;
        ASSERT_TRUE(PListCreateXMLData(*PArray::Create({PDate::Create(std::trunc(c.seconds))}), xml)) << c.name;
        EXPECT_NE(xml.find(c.xml), std::string::npos) << c.name << "\n" << xml;
    }
}

TEST(PList, NestingIsCappedAndOnlyRegularFilesAreRead)
{
    auto nested = [](int depth) {
        std::string xml = "<plist version=\"1.0\">";
        for (int i = 0; i < depth; ++i) xml += "<array>";
        for (int i = 0; i < depth; ++i) xml += "</array>";
        return xml + "</plist>";
    };
    EXPECT_TRUE(PListCreateFromData(nested(kPListMaxNesting), false));
    EXPECT_FALSE(PListCreateFromData(nested(kPListMaxNesting + 1), false));
    EXPECT_FALSE(PListCreateFromData(nested(20000), false));

    // A FIFO must not block the reader, a device must not fill memory.
    TempDir tmp;
    const std::string fifo = tmp / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = tmp / "zero";
    std::filesystem::create_symlink("/dev/zero", zero);
    struct Case {
        std::string path;
        int err;
    } cases[] = {{fifo, EINVAL}, {zero, EINVAL}, {tmp.path(), EISDIR}};
    for (const auto& c : cases) {
        std::string bytes;
        EXPECT_EQ(ReadWholeFile(c.path, bytes), c.err) << c.path;
        EXPECT_TRUE(bytes.empty()) << c.path;
        PRef<PValue> out;
        EXPECT_EQ(PListReadFile(c.path, false, out), PListReadResult::IOError) << c.path;
    }
}
