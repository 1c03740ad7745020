#include "platform/cf/PText.h"

#include <cerrno>
#include <iconv.h>

namespace {

const char* IconvName(PEncoding enc)
{
    switch (enc) {
    case PEncoding::UTF8: return "UTF-8";
    case PEncoding::ASCII: return "ASCII";
    case PEncoding::MacRoman: return "MACINTOSH";
    case PEncoding::ShiftJIS: return "CP932";
    }
    return "UTF-8";
}

class Iconv {
public:
    Iconv(const char* to, const char* from) : mCd(iconv_open(to, from)) {}
    ~Iconv() { if (ok()) iconv_close(mCd); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return mCd != reinterpret_cast<iconv_t>(-1); }

    // Converts all of `in`. On an unconvertible or invalid sequence: with `subst` set, writes
    // it and skips one input character (of `charLen` bytes); otherwise fails.
    bool Convert(std::string_view in, std::string& out, const char* subst,
                 size_t (*charLen)(std::string_view, size_t))
    {
        out.clear();
        char buf[256];
        size_t pos = 0;
        while (pos < in.size()) {
            char* inp = const_cast<char*>(in.data() + pos);
            size_t inLeft = in.size() - pos;
            char* outp = buf;
            size_t outLeft = sizeof buf;
            const size_t r = iconv(mCd, &inp, &inLeft, &outp, &outLeft);
            out.append(buf, static_cast<size_t>(outp - buf));
            pos = in.size() - inLeft;
            if (r != static_cast<size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            if (!subst) return false;
            out += subst;
            pos += charLen(in, pos);
            iconv(mCd, nullptr, nullptr, nullptr, nullptr);
        }
        char* outp = buf;
        size_t outLeft = sizeof buf;
        iconv(mCd, nullptr, nullptr, &outp, &outLeft);
        out.append(buf, static_cast<size_t>(outp - buf));
        return true;
    }

private:
    iconv_t mCd;
};

size_t UTF8CharLen(std::string_view s, size_t pos)
{
    const auto b = static_cast<uint8_t>(s[pos]);
    size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
    return pos + n > s.size() ? s.size() - pos : n;
}

size_t OneByte(std::string_view, size_t) { return 1; }

} // namespace

std::optional<std::string> PStringGetBytes(const PString& s, PEncoding enc)
{
    if (enc == PEncoding::UTF8) return s.UTF8();
    Iconv cv(IconvName(enc), "UTF-8");
    std::string out;
    if (!cv.ok() || !cv.Convert(s.UTF8(), out, nullptr, UTF8CharLen)) return std::nullopt;
    return out;
}

std::string PStringGetBytesLossy(const PString& s, PEncoding enc, char subst)
{
    if (enc == PEncoding::UTF8) return s.UTF8();
    Iconv cv(IconvName(enc), "UTF-8");
    std::string out;
    const char sub[2] = {subst, 0};
    if (!cv.ok()) return out;
    cv.Convert(s.UTF8(), out, sub, UTF8CharLen);
    return out;
}

PRef<PString> PStringCreateWithBytes(std::string_view bytes, PEncoding enc)
{
    if (enc == PEncoding::UTF8) return PString::Create(bytes);
    Iconv cv("UTF-8", IconvName(enc));
    std::string out;
    if (!cv.ok() || !cv.Convert(bytes, out, nullptr, OneByte)) return {};
    return PString::Create(out);
}

Str255 Str255FromPString(const PString& s, PEncoding enc)
{
    return Str255::From(PStringGetBytesLossy(s, enc));
}

PRef<PString> PStringFromStr255(const Str255& s, PEncoding enc)
{
    return PStringCreateWithBytes(s.View(), enc);
}

bool CopyCString(char* dst, size_t dstSize, std::string_view src)
{
    if (dstSize == 0) return src.empty();
    const size_t nul = src.find('\0');
    if (nul != std::string_view::npos) src = src.substr(0, nul);
    const size_t n = src.size() < dstSize - 1 ? src.size() : dstSize - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
    return n == src.size();
}

PTextCheck PTextCheckUTF8(std::string_view text)
{
    auto s = PString::Create(text); // validates the encoding
    if (!s) return PTextCheck::InvalidUTF8;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<uint8_t>(text[i]);
        if (b < 0x20 || b == 0x7F) return PTextCheck::ControlCharacter;
        // U+0080 to U+009F: C2 80 to C2 9F.
        if (b == 0xC2 && i + 1 < text.size() && static_cast<uint8_t>(text[i + 1]) <= 0x9F)
            return PTextCheck::ControlCharacter;
    }
    return PTextCheck::Ok;
}
