#include "app/prefs/UPasswordCodec.h"

#include <gtest/gtest.h>

TEST(PasswordCodec, EncodesUTF16BigEndianWithoutMark)
{
    struct Case {
        const char* utf8;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"abc", {0x00, 0x61, 0x00, 0x62, 0x00, 0x63}},
        {"", {}},
        {"\xE3\x81\x82", {0x30, 0x42}},                 // one Japanese letter
        {"\xF0\x9F\x94\x91", {0xD8, 0x3D, 0xDD, 0x11}}, // outside the Basic Multilingual Plane
    };
    for (const auto& c : cases) {
        PRef<PData> data;
        ASSERT_EQ(UPasswordCodec::CopyEncodePassword(PStr(c.utf8).get(), data), 0);
        EXPECT_EQ(data->Bytes(), c.bytes) << c.utf8;
        PRef<PString> back;
        ASSERT_EQ(UPasswordCodec::CopyDecodePassword(data.get(), back), 0);
        EXPECT_EQ(back->UTF8(), c.utf8);
    }
}

TEST(PasswordCodec, DecodeEdges)
{
    PRef<PString> out;
    EXPECT_EQ(UPasswordCodec::CopyDecodePassword(nullptr, out), kStatusBadParam);
    EXPECT_FALSE(out);

    const uint8_t odd[] = {0x00, 0x61, 0x00, 0x62, 0x00}; // the odd last byte is ignored
    ASSERT_EQ(UPasswordCodec::CopyDecodePassword(PData::Create(odd, sizeof odd).get(), out), 0);
    EXPECT_EQ(out->UTF8(), "ab");

    PRef<PString> lone;
    const uint8_t surrogate[] = {0xD8, 0x3D}; // half a pair cannot be a string
    EXPECT_EQ(UPasswordCodec::CopyDecodePassword(PData::Create(surrogate, 2).get(), lone), kStatusValueNotMade);
    EXPECT_FALSE(lone);

    PRef<PData> data;
    EXPECT_EQ(UPasswordCodec::CopyEncodePassword(nullptr, data), kStatusBadParam);
    EXPECT_FALSE(data);
}
