#include "NetSCF/NetSCFValue.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>

TEST(NetSCFValue, MacAddressToText)
{
    const uint8_t mac[6] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    PRef<PString> s;
    ASSERT_EQ(NetSCFCreateStringWithMacAddress(mac, s), 0);
    EXPECT_EQ(s->UTF8(), "12:34:56:78:9a:bc");
    const uint8_t zero[6] = {};
    PRef<PString> z;
    ASSERT_EQ(NetSCFCreateStringWithMacAddress(zero, z), 0);
    EXPECT_EQ(z->UTF8(), "00:00:00:00:00:00");
}

TEST(NetSCFValue, TextToMacAddress)
{
    struct Case {
        const char* text;
        OSStatus status;
        uint8_t bytes[6];
    } cases[] = {
        {"12:34:56:78:9A:BC", 0, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}},
        {"12:34:56:78:9a:bc", 0, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}},
        {"0:a:5:d:8:6", 0, {0x00, 0x0A, 0x05, 0x0D, 0x08, 0x06}},
        {"0:a:5:d:8:6xx", 0, {0x00, 0x0A, 0x05, 0x0D, 0x08, 0x06}},   // trailing text ignored
        {" 1: 2: 3: 4: 5: 6", 0, {1, 2, 3, 4, 5, 6}},                  // blanks before fields skipped
        {"12:34:56:78:9a", -1, {}},                                     // five fields
        {"zz:34:56:78:9a:bc", -1, {}},
        {"", -1, {}},
        {"12:34:56:78:9a:bcx", kStatusValueNotMade, {}},                // 18 characters: does not fit
        {"12:34:56:78:9a:b\xC3\xA9", kStatusValueNotMade, {}},          // not ASCII
    };
    for (const auto& c : cases) {
        uint8_t mac[6];
        std::memset(mac, 0xEE, sizeof mac);
        EXPECT_EQ(NetSCFStringToMacAddress(*PStr(c.text), mac), c.status) << c.text;
        if (c.status == 0) {
            EXPECT_EQ(std::memcmp(mac, c.bytes, 6), 0) << c.text;
        } else {
            const uint8_t untouched[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
            EXPECT_EQ(std::memcmp(mac, untouched, 6), 0) << c.text;
        }
    }
}

TEST(NetSCFValue, InetAddresses)
{
    in_addr a[2];
    inet_pton(AF_INET, "10.0.1.1", &a[0]);
    inet_pton(AF_INET, "255.255.255.0", &a[1]);
    PRef<PString> s;
    ASSERT_EQ(NetSCFCreateStringWithInetAddress(a[0], s), 0);
    EXPECT_EQ(s->UTF8(), "10.0.1.1");

    PRef<PArray> arr;
    ASSERT_EQ(NetSCFCreateArrayWithInetAddresses(2, a, arr), 0);
    ASSERT_EQ(arr->Count(), 2u);
    EXPECT_EQ(arr->AtAs<PString>(1)->UTF8(), "255.255.255.0");

    PRef<PArray> none;
    ASSERT_EQ(NetSCFCreateArrayWithInetAddresses(0, nullptr, none), 0);
    ASSERT_TRUE(none); // an empty array, not none
    EXPECT_EQ(none->Count(), 0u);
}

TEST(NetSCFValue, EncodedPassword)
{
    struct Case {
        const char* utf8;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"abc", {0x00, 0x61, 0x00, 0x62, 0x00, 0x63}},
        {"", {}},
        {"\xC3\xA9", {0x00, 0xE9}},
        {"\xF0\x9F\x98\x80", {0xD8, 0x3D, 0xDE, 0x00}}, // a surrogate pair, high unit first
    };
    for (const auto& c : cases) {
        PRef<PData> d;
        ASSERT_EQ(NetSCFCopyEncodedPPPPassword(*PStr(c.utf8), d), 0);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->Bytes(), c.bytes) << c.utf8;
    }
}

TEST(NetSCFValue, ContainerOperations)
{
    EXPECT_EQ(CFXRetain(nullptr), nullptr);
    CFXRelease(nullptr);

    auto s = PStr("x");
    PValue* again = CFXRetain(s.get());
    EXPECT_EQ(again, s.get());
    EXPECT_EQ(s->RefCount(), 2);
    CFXRelease(again);
    EXPECT_EQ(s->RefCount(), 1);

    PRef<PDictionary> d;
    ASSERT_EQ(CFXDictionaryCreateMutable(d), 0);
    PRef<PArray> keys;
    ASSERT_EQ(CFXArrayCreateWithDictionaryKeys(*d, keys), 0);
    EXPECT_EQ(keys->Count(), 0u);

    d->Set("name", PStr("text"));
    ASSERT_EQ(CFXDictionarySetNumber(*d, *PStr("name"), -5), 0); // replaces the string
    ASSERT_EQ(CFXDictionarySetNumber(*d, *PStr("other"), INT32_MAX), 0);
    EXPECT_EQ(d->GetAs<PNumber>("name")->Int64(), -5);
    EXPECT_EQ(d->GetRef("name")->RefCount(), 2); // the dictionary's reference and ours

    PRef<PArray> keys2;
    ASSERT_EQ(CFXArrayCreateWithDictionaryKeys(*d, keys2), 0);
    ASSERT_EQ(keys2->Count(), d->Count());
    EXPECT_EQ(keys2->AtAs<PString>(0)->UTF8(), "name");
    EXPECT_EQ(keys2->AtAs<PString>(1)->UTF8(), "other");
    EXPECT_FALSE(keys2->IsMutable());

    PRef<PArray> arr;
    ASSERT_EQ(CFXArrayCreateMutable(arr), 0);
    EXPECT_TRUE(arr->Append(PNum(1)));
}
