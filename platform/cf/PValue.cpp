#include "platform/cf/PValue.h"

#include <cmath>
#include <limits>

namespace {

// Decodes one UTF-8 sequence at s[i]; returns the code point and advances i, or -1 when invalid.
int32_t DecodeUTF8(std::string_view s, size_t& i)
{
    const auto b0 = static_cast<uint8_t>(s[i]);
    if (b0 < 0x80) { ++i; return b0; }
    int len;
    uint32_t cp;
    if ((b0 & 0xE0) == 0xC0) { len = 2; cp = b0 & 0x1F; }
    else if ((b0 & 0xF0) == 0xE0) { len = 3; cp = b0 & 0x0F; }
    else if ((b0 & 0xF8) == 0xF0) { len = 4; cp = b0 & 0x07; }
    else return -1;
    if (i + len > s.size()) return -1;
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<uint8_t>(s[i + k]);
        if ((b & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (b & 0x3F);
    }
    static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    i += len;
    return static_cast<int32_t>(cp);
}

} // namespace

void PValue::ReleaseRef() const
{
    if (mRefs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

bool PValue::Equals(const PValue& o) const
{
    if (this == &o) return true;
    if (mType != o.mType) return false;
    switch (mType) {
    case PType::String:
        return static_cast<const PString&>(*this).UTF8() == static_cast<const PString&>(o).UTF8();
    case PType::Number: {
        const auto& a = static_cast<const PNumber&>(*this);
        const auto& b = static_cast<const PNumber&>(o);
        if (!a.IsReal() && !b.IsReal()) return a.Int64() == b.Int64();
        return a.Real() == b.Real();
    }
    case PType::Boolean:
        return static_cast<const PBoolean&>(*this).Value() == static_cast<const PBoolean&>(o).Value();
    case PType::Data:
        return static_cast<const PData&>(*this).Bytes() == static_cast<const PData&>(o).Bytes();
    case PType::Date:
        return static_cast<const PDate&>(*this).Seconds() == static_cast<const PDate&>(o).Seconds();
    case PType::Array: {
        const auto& a = static_cast<const PArray&>(*this).Items();
        const auto& b = static_cast<const PArray&>(o).Items();
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (!a[i]->Equals(*b[i])) return false;
        return true;
    }
    case PType::Dictionary: {
        const auto& a = static_cast<const PDictionary&>(*this);
        const auto& b = static_cast<const PDictionary&>(o);
        if (a.Count() != b.Count()) return false;
        for (const auto& [k, v] : a.Entries()) {
            const PValue* w = b.Get(k);
            if (!w || !v->Equals(*w)) return false;
        }
        return true;
    }
    }
    return false;
}

PRef<PValue> PValue::DeepCopy(bool mutableContainers) const
{
    switch (mType) {
    case PType::Array: {
        const auto& src = static_cast<const PArray&>(*this);
        std::vector<PRef<PValue>> items;
        items.reserve(src.Count());
        for (const auto& v : src.Items()) items.push_back(v->DeepCopy(mutableContainers));
        return PRef<PValue>::Adopt(new PArray(std::move(items), mutableContainers));
    }
    case PType::Dictionary: {
        const auto& src = static_cast<const PDictionary&>(*this);
        auto* d = new PDictionary(mutableContainers);
        d->mEntries.reserve(src.Count());
        for (const auto& [k, v] : src.Entries()) d->mEntries.emplace_back(k, v->DeepCopy(mutableContainers));
        d->Reindex();
        return PRef<PValue>::Adopt(d);
    }
    default:
        // Scalars are immutable and can be shared.
        return PRef<PValue>::Retain(const_cast<PValue*>(this));
    }
}

void AppendUTF8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// ---- PString ----

PRef<PString> PString::Create(std::string_view utf8)
{
    for (size_t i = 0; i < utf8.size();)
        if (DecodeUTF8(utf8, i) < 0) return {};
    return PRef<PString>::Adopt(new PString(std::string(utf8)));
}

PRef<PString> PString::CreateWithUTF16(const char16_t* units, size_t count)
{
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        uint32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= count) return {};
            uint32_t lo = units[i + 1];
            if (lo < 0xDC00 || lo > 0xDFFF) return {};
            u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return {};
        }
        AppendUTF8(out, u);
    }
    return PRef<PString>::Adopt(new PString(std::move(out)));
}

size_t PString::Length() const
{
    size_t n = 0;
    for (size_t i = 0; i < mText.size();) n += DecodeUTF8(mText, i) >= 0x10000 ? 2 : 1;
    return n;
}

std::u16string PString::UTF16() const
{
    std::u16string out;
    out.reserve(mText.size());
    for (size_t i = 0; i < mText.size();) {
        const auto cp = static_cast<uint32_t>(DecodeUTF8(mText, i));
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::vector<uint8_t> PString::UTF16BE() const
{
    const std::u16string units = UTF16();
    std::vector<uint8_t> bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t u : units) {
        bytes.push_back(static_cast<uint8_t>(u >> 8));
        bytes.push_back(static_cast<uint8_t>(u & 0xFF));
    }
    return bytes;
}

// ---- scalars ----

PRef<PNumber> PNumber::Create(int64_t v) { return PRef<PNumber>::Adopt(new PNumber(v)); }
PRef<PNumber> PNumber::CreateReal(double v) { return PRef<PNumber>::Adopt(new PNumber(v)); }

bool PNumber::GetInt32(int32_t& out) const
{
    if (mIsReal || mInt < std::numeric_limits<int32_t>::min() || mInt > std::numeric_limits<int32_t>::max())
        return false;
    out = static_cast<int32_t>(mInt);
    return true;
}

PRef<PBoolean> PBoolean::Create(bool v) { return PRef<PBoolean>::Adopt(new PBoolean(v)); }

PRef<PData> PData::Create(const void* bytes, size_t length)
{
    const auto* b = static_cast<const uint8_t*>(bytes);
    return Create(std::vector<uint8_t>(b, b + (b ? length : 0)));
}
PRef<PData> PData::Create(std::vector<uint8_t> bytes) { return PRef<PData>::Adopt(new PData(std::move(bytes))); }

PRef<PDate> PDate::Create(double s) { return PRef<PDate>::Adopt(new PDate(s)); }

// ---- PArray ----

PRef<PArray> PArray::CreateMutable() { return PRef<PArray>::Adopt(new PArray({}, true)); }
PRef<PArray> PArray::Create(std::vector<PRef<PValue>> items)
{
    for (const auto& v : items)
        if (!v) return {};
    return PRef<PArray>::Adopt(new PArray(std::move(items), false));
}
PRef<PArray> PArray::MutableCopy() const { return PRef<PArray>::Adopt(new PArray(mItems, true)); }

bool PArray::Append(PRef<PValue> v)
{
    if (!IsMutable() || !v) return false;
    mItems.push_back(std::move(v));
    return true;
}
bool PArray::Set(size_t i, PRef<PValue> v)
{
    if (!IsMutable() || !v || i >= mItems.size()) return false;
    mItems[i] = std::move(v);
    return true;
}
bool PArray::Insert(size_t i, PRef<PValue> v)
{
    if (!IsMutable() || !v || i > mItems.size()) return false;
    mItems.insert(mItems.begin() + static_cast<ptrdiff_t>(i), std::move(v));
    return true;
}
bool PArray::Remove(size_t i)
{
    if (!IsMutable() || i >= mItems.size()) return false;
    mItems.erase(mItems.begin() + static_cast<ptrdiff_t>(i));
    return true;
}
bool PArray::RemoveAll()
{
    if (!IsMutable()) return false;
    mItems.clear();
    return true;
}

// ---- PDictionary ----

namespace {
// Below this size a dictionary is searched in order: cheaper than a hash index in time and
// far cheaper in memory for the many small dictionaries of a large store.
constexpr size_t kIndexThreshold = 48;
}

PRef<PDictionary> PDictionary::CreateMutable() { return PRef<PDictionary>::Adopt(new PDictionary(true)); }

PRef<PDictionary> PDictionary::Create(std::vector<std::pair<std::string, PRef<PValue>>> entries)
{
    for (const auto& e : entries)
        if (!e.second) return {};
    auto* d = new PDictionary(false);
    auto ref = PRef<PDictionary>::Adopt(d);
    d->mEntries = std::move(entries);
    d->mEntries.shrink_to_fit();
    const size_t n = d->mEntries.size();
    if (n >= kIndexThreshold) {
        d->mIndex.reserve(n);
        for (size_t i = 0; i < n; ++i)
            if (!d->mIndex.emplace(d->mEntries[i].first, i).second) return {};
    } else {
        for (size_t i = 0; i < n; ++i)
            for (size_t j = i + 1; j < n; ++j)
                if (d->mEntries[i].first == d->mEntries[j].first) return {};
    }
    return ref;
}

PRef<PDictionary> PDictionary::MutableCopy() const
{
    auto* d = new PDictionary(true);
    d->mEntries = mEntries;
    d->mIndex = mIndex;
    return PRef<PDictionary>::Adopt(d);
}

PRef<PDictionary> PDictionary::ImmutableCopy() const
{
    auto* d = new PDictionary(false);
    d->mEntries = mEntries;
    d->mIndex = mIndex;
    return PRef<PDictionary>::Adopt(d);
}

size_t PDictionary::Find(std::string_view key) const
{
    if (mEntries.size() >= kIndexThreshold && !mIndex.empty()) {
        auto it = mIndex.find(std::string(key));
        return it == mIndex.end() ? kNone : it->second;
    }
    for (size_t i = 0; i < mEntries.size(); ++i)
        if (mEntries[i].first == key) return i;
    return kNone;
}

void PDictionary::Reindex()
{
    mIndex.clear();
    if (mEntries.size() < kIndexThreshold) return;
    mIndex.reserve(mEntries.size());
    for (size_t i = 0; i < mEntries.size(); ++i) mIndex.emplace(mEntries[i].first, i);
}

const PValue* PDictionary::Get(std::string_view key) const
{
    const size_t i = Find(key);
    return i == kNone ? nullptr : mEntries[i].second.get();
}

PRef<PValue> PDictionary::GetRef(std::string_view key) const
{
    const size_t i = Find(key);
    return i == kNone ? PRef<PValue>() : mEntries[i].second;
}

bool PDictionary::Set(std::string_view key, PRef<PValue> v)
{
    if (!IsMutable() || !v) return false;
    const size_t i = Find(key);
    if (i != kNone) {
        mEntries[i].second = std::move(v);
        return true;
    }
    mEntries.emplace_back(std::string(key), std::move(v));
    if (mEntries.size() == kIndexThreshold) Reindex();
    else if (mEntries.size() > kIndexThreshold) mIndex.emplace(mEntries.back().first, mEntries.size() - 1);
    return true;
}

bool PDictionary::Remove(std::string_view key)
{
    if (!IsMutable()) return false;
    const size_t i = Find(key);
    if (i == kNone) return true;
    mEntries.erase(mEntries.begin() + static_cast<ptrdiff_t>(i));
    Reindex();
    return true;
}

bool PDictionary::RemoveAll()
{
    if (!IsMutable()) return false;
    mEntries.clear();
    mIndex.clear();
    return true;
}
