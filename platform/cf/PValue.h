// Reference-counted property values: the tree that preferences files and the network
// preferences store are made of. Dictionaries keep string keys in insertion order; booleans
// are a type of their own, as property lists keep them.
//
// Ownership: a value handed out by a Create or Copy operation carries one reference that the
// caller owns; PRef<T> is the smart handle that holds such a reference. Values are never
// allocated or freed by callers directly.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

enum class PType { String, Number, Boolean, Data, Date, Array, Dictionary };

class PValue;
class PString;
class PNumber;
class PBoolean;
class PData;
class PDate;
class PArray;
class PDictionary;

// Owning handle. Adopt() takes over a reference the caller already owns; Retain() takes a new one.
template <class T>
class PRef {
public:
    PRef() = default;
    PRef(std::nullptr_t) {}
    PRef(const PRef& o) : mPtr(o.mPtr) { Inc(); }
    PRef(PRef&& o) noexcept : mPtr(o.mPtr) { o.mPtr = nullptr; }
    template <class U>
    PRef(const PRef<U>& o) : mPtr(o.get()) { Inc(); }
    template <class U>
    PRef(PRef<U>&& o) noexcept : mPtr(o.release()) {}
    ~PRef() { reset(); }

    PRef& operator=(PRef o) noexcept { std::swap(mPtr, o.mPtr); return *this; }

    static PRef Adopt(T* p) { PRef r; r.mPtr = p; return r; }
    static PRef Retain(T* p) { PRef r; r.mPtr = p; r.Inc(); return r; }

    T* get() const { return mPtr; }
    T* operator->() const { return mPtr; }
    T& operator*() const { return *mPtr; }
    explicit operator bool() const { return mPtr != nullptr; }
    bool empty() const { return mPtr == nullptr; }

    // Gives up ownership without releasing: the caller now owns the reference.
    T* release() { T* p = mPtr; mPtr = nullptr; return p; }
    void reset();

private:
    void Inc();
    T* mPtr = nullptr;
};

class PValue {
public:
    PValue(const PValue&) = delete;
    PValue& operator=(const PValue&) = delete;

    PType Type() const { return mType; }
    bool IsMutable() const { return mMutable; }

    // Equality by value, recursively; a number and a boolean are never equal.
    bool Equals(const PValue& other) const;

    // A deep copy. Containers (and everything inside them) are mutable when `mutableContainers`.
    PRef<PValue> DeepCopy(bool mutableContainers) const;

    void RetainRef() const { mRefs.fetch_add(1, std::memory_order_relaxed); }
    void ReleaseRef() const;
    int32_t RefCount() const { return mRefs.load(std::memory_order_relaxed); }

    // Checked downcasts: nullptr when the value is of another type (or is nullptr itself).
    template <class T>
    static const T* As(const PValue* v);
    template <class T>
    static T* AsMutable(PValue* v);

protected:
    PValue(PType t, bool isMutable) : mType(t), mMutable(isMutable) {}
    virtual ~PValue() = default;

private:
    mutable std::atomic<int32_t> mRefs{1};
    PType mType;
    bool mMutable;
};

// Text. Kept as UTF-8; lengths and the password codec work in UTF-16 code units.
class PString final : public PValue {
public:
    static constexpr PType kType = PType::String;

    // nullptr when `utf8` is not valid UTF-8.
    static PRef<PString> Create(std::string_view utf8);
    // nullptr when the units hold an unpaired surrogate.
    static PRef<PString> CreateWithUTF16(const char16_t* units, size_t count);

    const std::string& UTF8() const { return mText; }
    size_t Length() const; // UTF-16 code units
    std::u16string UTF16() const;
    // The UTF-16 code units, most significant byte first, no byte-order mark.
    std::vector<uint8_t> UTF16BE() const;
    bool operator==(std::string_view s) const { return mText == s; }

private:
    explicit PString(std::string s) : PValue(kType, false), mText(std::move(s)) {}
    std::string mText;
};

// Numbers: integers (64-bit, though the store writes 32-bit ones) or reals.
class PNumber final : public PValue {
public:
    static constexpr PType kType = PType::Number;
    static PRef<PNumber> Create(int64_t v);
    static PRef<PNumber> CreateReal(double v);

    bool IsReal() const { return mIsReal; }
    int64_t Int64() const { return mIsReal ? static_cast<int64_t>(mReal) : mInt; }
    double Real() const { return mIsReal ? mReal : static_cast<double>(mInt); }
    // The value as a 32-bit signed integer; false when it is a real or out of range.
    bool GetInt32(int32_t& out) const;

private:
    explicit PNumber(int64_t i) : PValue(kType, false), mInt(i), mIsReal(false) {}
    explicit PNumber(double d) : PValue(kType, false), mReal(d), mIsReal(true) {}
    union {
        int64_t mInt;
        double mReal;
    };
    bool mIsReal;
};

class PBoolean final : public PValue {
public:
    static constexpr PType kType = PType::Boolean;
    static PRef<PBoolean> Create(bool v);
    bool Value() const { return mValue; }

private:
    explicit PBoolean(bool v) : PValue(kType, false), mValue(v) {}
    bool mValue;
};

class PData final : public PValue {
public:
    static constexpr PType kType = PType::Data;
    static PRef<PData> Create(const void* bytes, size_t length);
    static PRef<PData> Create(std::vector<uint8_t> bytes);
    const std::vector<uint8_t>& Bytes() const { return mBytes; }
    size_t Length() const { return mBytes.size(); }

private:
    explicit PData(std::vector<uint8_t> b) : PValue(kType, false), mBytes(std::move(b)) {}
    std::vector<uint8_t> mBytes;
};

// A point in time, seconds since 2001-01-01 00:00:00 UTC, as property lists keep dates.
class PDate final : public PValue {
public:
    static constexpr PType kType = PType::Date;
    static PRef<PDate> Create(double secondsSince2001);
    double Seconds() const { return mSeconds; }

private:
    explicit PDate(double s) : PValue(kType, false), mSeconds(s) {}
    double mSeconds;
};

class PArray final : public PValue {
public:
    static constexpr PType kType = PType::Array;
    static PRef<PArray> CreateMutable();
    static PRef<PArray> Create(std::vector<PRef<PValue>> items); // immutable
    PRef<PArray> MutableCopy() const; // shallow: the elements are shared

    size_t Count() const { return mItems.size(); }
    const PValue* At(size_t i) const { return i < mItems.size() ? mItems[i].get() : nullptr; }
    PRef<PValue> RefAt(size_t i) const { return i < mItems.size() ? mItems[i] : PRef<PValue>(); }
    template <class T>
    const T* AtAs(size_t i) const { return PValue::As<T>(At(i)); }
    const std::vector<PRef<PValue>>& Items() const { return mItems; }

    // Mutation: false (and nothing changed) on an immutable array, a null value or a bad index.
    bool Append(PRef<PValue> v);
    bool Set(size_t i, PRef<PValue> v);
    bool Insert(size_t i, PRef<PValue> v);
    bool Remove(size_t i);
    bool RemoveAll();

private:
    PArray(std::vector<PRef<PValue>> items, bool isMutable)
        : PValue(kType, isMutable), mItems(std::move(items)) {}
    std::vector<PRef<PValue>> mItems;
    friend class PValue;
};

class PDictionary final : public PValue {
public:
    static constexpr PType kType = PType::Dictionary;
    static PRef<PDictionary> CreateMutable();
    // An immutable dictionary of these entries, in this order; empty when a value is null or a
    // key occurs twice.
    static PRef<PDictionary> Create(std::vector<std::pair<std::string, PRef<PValue>>> entries);
    PRef<PDictionary> MutableCopy() const; // shallow: the values are shared
    PRef<PDictionary> ImmutableCopy() const;

    size_t Count() const { return mEntries.size(); }
    const PValue* Get(std::string_view key) const;
    PRef<PValue> GetRef(std::string_view key) const;
    template <class T>
    const T* GetAs(std::string_view key) const { return PValue::As<T>(Get(key)); }
    bool Contains(std::string_view key) const { return Find(key) != kNone; }

    // Entries in insertion order (a replaced key keeps its place).
    const std::vector<std::pair<std::string, PRef<PValue>>>& Entries() const { return mEntries; }

    // Mutation: false (and nothing changed) on an immutable dictionary or a null value.
    bool Set(std::string_view key, PRef<PValue> v);
    bool Remove(std::string_view key); // true also when the key was absent
    bool RemoveAll();

private:
    static constexpr size_t kNone = static_cast<size_t>(-1);
    explicit PDictionary(bool isMutable) : PValue(kType, isMutable) {}
    size_t Find(std::string_view key) const;
    void Reindex();

    std::vector<std::pair<std::string, PRef<PValue>>> mEntries;
    // Built only for larger dictionaries; small ones are searched in order.
    std::unordered_map<std::string, size_t> mIndex;
    friend class PValue;
};

// ---- inline implementation ----

template <class T>
void PRef<T>::reset()
{
    if (mPtr) {
        const PValue* v = mPtr;
        mPtr = nullptr;
        v->ReleaseRef();
    }
}

template <class T>
void PRef<T>::Inc()
{
    if (mPtr) static_cast<const PValue*>(mPtr)->RetainRef();
}

template <class T>
const T* PValue::As(const PValue* v)
{
    if constexpr (std::is_same_v<T, PValue>) {
        return v;
    } else {
        return (v && v->Type() == T::kType) ? static_cast<const T*>(v) : nullptr;
    }
}

template <class T>
T* PValue::AsMutable(PValue* v)
{
    return (v && v->Type() == T::kType && v->IsMutable()) ? static_cast<T*>(v) : nullptr;
}

// Appends one code point to UTF-8 text.
void AppendUTF8(std::string& out, uint32_t codePoint);

// Convenience makers used all over: a string from UTF-8 (nullptr when invalid), a 32-bit number.
inline PRef<PString> PStr(std::string_view s) { return PString::Create(s); }
inline PRef<PNumber> PNum(int64_t v) { return PNumber::Create(v); }

// Cast a handle to another value type; empty when the value is of another type.
template <class T>
PRef<T> PRefCast(const PRef<PValue>& v)
{
    const T* p = PValue::As<T>(v.get());
    return p ? PRef<T>::Retain(const_cast<T*>(p)) : PRef<T>();
}
