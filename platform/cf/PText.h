// Text conversions and the fixed-width text types of the settings and the card dialogue.
#pragma once

#include "platform/cf/PValue.h"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

enum class PEncoding { UTF8, ASCII, MacRoman, ShiftJIS };

// The string's text in `enc`; nullopt when a character cannot be represented there.
std::optional<std::string> PStringGetBytes(const PString& s, PEncoding enc);

// The string's text in `enc`, every character that cannot be represented replaced by `subst`.
std::string PStringGetBytesLossy(const PString& s, PEncoding enc, char subst = '?');

// A string from bytes in `enc`; nullptr when the bytes are not valid in that encoding.
PRef<PString> PStringCreateWithBytes(std::string_view bytes, PEncoding enc);

// A length byte followed by up to 255 bytes (settings are Mac Roman text).
struct Str255 {
    uint8_t bytes[256] = {0};

    uint8_t Length() const { return bytes[0]; }
    const char* Data() const { return reinterpret_cast<const char*>(bytes + 1); }
    std::string_view View() const { return {Data(), Length()}; }
    // Copies at most 255 bytes; the rest is cut off.
    void Assign(std::string_view s)
    {
        const size_t n = s.size() > 255 ? 255 : s.size();
        bytes[0] = static_cast<uint8_t>(n);
        if (n) std::memcpy(bytes + 1, s.data(), n);
    }
    static Str255 From(std::string_view s) { Str255 r; r.Assign(s); return r; }
    bool operator==(const Str255& o) const { return View() == o.View(); }
};

// Text that Mac Roman cannot hold becomes "?" (one per character), and anything past 255
// bytes is cut off: a setting always loads, and the user sees where it was damaged.
Str255 Str255FromPString(const PString& s, PEncoding enc = PEncoding::MacRoman);
// nullptr when the bytes are not valid in `enc` (Mac Roman bytes always are).
PRef<PString> PStringFromStr255(const Str255& s, PEncoding enc = PEncoding::MacRoman);

// Copies a NUL-terminated string into a buffer of `dstSize` bytes, always terminating it and
// never writing past the end. Returns false when the text had to be cut.
bool CopyCString(char* dst, size_t dstSize, std::string_view src);

// A NUL-terminated byte string in a fixed buffer of N bytes (N-1 characters at most).
template <size_t N>
struct CText {
    static_assert(N > 0);
    char buf[N] = {0};

    bool Assign(std::string_view s) { return CopyCString(buf, N, s); }
    const char* c_str() const { return buf; }
    std::string_view View() const { return {buf, strnlen(buf, N)}; }
    static constexpr size_t Capacity() { return N; }
    bool operator==(const CText& o) const { return View() == o.View(); }
};

// How text handed over from outside (a command-line argument) reads as UTF-8.
enum class PTextCheck {
    Ok,
    InvalidUTF8,     // not valid UTF-8 (overlong forms and surrogates included)
    ControlCharacter // valid, but holds a C0 or C1 control character or DEL
};
PTextCheck PTextCheckUTF8(std::string_view text);
