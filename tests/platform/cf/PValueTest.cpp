#include "platform/cf/PValue.h"

#include <gtest/gtest.h>

TEST(PValue, DictionaryKeepsInsertionOrderAndReplacesInPlace)
{
    auto d = PDictionary::CreateMutable();
    for (const char* k : {"zeta", "alpha", "mid"}) d->Set(k, PStr(k));
    d->Set("alpha", PNum(7)); // replacing keeps the key's place
    std::vector<std::string> keys;
    for (const auto& e : d->Entries()) keys.push_back(e.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"zeta", "alpha", "mid"}));
    EXPECT_EQ(d->GetAs<PNumber>("alpha")->Int64(), 7);
    EXPECT_EQ(d->GetAs<PString>("alpha"), nullptr);
}

TEST(PValue, LargeDictionaryLookupsStayRightAcrossRemovals)
{
    // Large dictionaries switch to an index; removals must keep it in step with the entries.
    auto d = PDictionary::CreateMutable();
    for (int i = 0; i < 100; ++i) d->Set(std::to_string(i), PNum(i));
    for (int i = 0; i < 100; i += 3) d->Remove(std::to_string(i));
    for (int i = 0; i < 100; ++i) {
        const auto* n = d->GetAs<PNumber>(std::to_string(i));
        if (i % 3 == 0) {
            EXPECT_EQ(n, nullptr) << i;
        } else {
            ASSERT_NE(n, nullptr) << i;
            EXPECT_EQ(n->Int64(), i);
        }
    }
    d->Set("0", PNum(-1));
    EXPECT_EQ(d->Entries().back().first, "0");
}

TEST(PValue, EqualityIsByValueAndBooleansAreNotNumbers)
{
    auto a = PDictionary::CreateMutable();
    auto b = PDictionary::CreateMutable();
    a->Set("x", PNum(1));
    a->Set("y", PArray::Create({PStr("s"), PBoolean::Create(true)}));
    b->Set("y", PArray::Create({PStr("s"), PBoolean::Create(true)}));
    b->Set("x", PNum(1));
    EXPECT_TRUE(a->Equals(*b)); // key order does not matter for equality
    b->Set("x", PBoolean::Create(true));
    EXPECT_FALSE(a->Equals(*b));
    EXPECT_FALSE(PNum(0)->Equals(*PBoolean::Create(false)));
    EXPECT_TRUE(PNum(3)->Equals(*PNumber::CreateReal(3.0)));
}

TEST(PValue, ImmutableContainersRefuseChangesAndMutableCopiesShareValues)
{
    auto arr = PArray::Create({PNum(1)});
    EXPECT_FALSE(arr->Append(PNum(2)));
    EXPECT_EQ(arr->Count(), 1u);
    auto copy = arr->MutableCopy();
    EXPECT_TRUE(copy->Append(PNum(2)));
    EXPECT_EQ(arr->Count(), 1u);
    EXPECT_EQ(copy->At(0), arr->At(0));

    auto d = PDictionary::CreateMutable();
    d->Set("k", PNum(1));
    auto frozen = d->ImmutableCopy();
    EXPECT_FALSE(frozen->Set("k", PNum(2)));
    EXPECT_FALSE(frozen->Remove("k"));
    EXPECT_EQ(frozen->GetAs<PNumber>("k")->Int64(), 1);
    EXPECT_FALSE(d->Set("k", PRef<PValue>())); // a null value is refused
}

TEST(PValue, DeepCopyIsIndependent)
{
    auto inner = PDictionary::CreateMutable();
    inner->Set("a", PNum(1));
    auto outer = PDictionary::CreateMutable();
    outer->Set("inner", inner);
    auto copy = PRefCast<PDictionary>(outer->DeepCopy(true));
    ASSERT_TRUE(copy);
    auto* innerCopy = PValue::AsMutable<PDictionary>(copy->GetRef("inner").get());
    ASSERT_NE(innerCopy, nullptr);
    innerCopy->Set("a", PNum(2));
    EXPECT_EQ(inner->GetAs<PNumber>("a")->Int64(), 1);
    auto frozen = outer->DeepCopy(false);
    EXPECT_FALSE(frozen->IsMutable());
    EXPECT_TRUE(frozen->Equals(*outer));
}

TEST(PValue, ReferenceCounting)
{
    auto s = PStr("x");
    EXPECT_EQ(s->RefCount(), 1);
    {
        auto arr = PArray::CreateMutable();
        arr->Append(s);
        EXPECT_EQ(s->RefCount(), 2);
        PRef<PValue> again = s;
        EXPECT_EQ(s->RefCount(), 3);
    }
    EXPECT_EQ(s->RefCount(), 1);
    PString* raw = s.release();
    auto adopted = PRef<PString>::Adopt(raw);
    EXPECT_EQ(adopted->RefCount(), 1);
}

TEST(PString, LengthsAndUTF16)
{
    struct Case {
        const char* utf8;
        size_t units;
    } cases[] = {
        {"", 0}, {"abc", 3}, {"caf\xC3\xA9", 4}, {"\xE6\x97\xA5\xE6\x9C\xAC", 2},
        {"\xF0\x9F\x98\x80", 2}, // outside the Basic Multilingual Plane: a surrogate pair
    };
    for (const auto& c : cases) {
        auto s = PStr(c.utf8);
        ASSERT_TRUE(s) << c.utf8;
        EXPECT_EQ(s->Length(), c.units) << c.utf8;
        const auto u = s->UTF16();
        EXPECT_EQ(u.size(), c.units);
        auto back = PString::CreateWithUTF16(u.data(), u.size());
        ASSERT_TRUE(back);
        EXPECT_EQ(back->UTF8(), c.utf8);
    }
}

TEST(PString, InvalidTextIsRefused)
{
    for (const char* bad : {"\xFF", "\xC3", "\xED\xA0\x80" /* encoded surrogate */, "\xC0\x80" /* overlong */})
        EXPECT_FALSE(PStr(bad)) << bad;
    const char16_t lone[] = {u'a', 0xD800};
    EXPECT_FALSE(PString::CreateWithUTF16(lone, 2));
    const char16_t reversed[] = {0xDC00, 0xD800};
    EXPECT_FALSE(PString::CreateWithUTF16(reversed, 2));
}
