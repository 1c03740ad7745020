#include "platform/store/StoreXML.h"

#include "platform/cf/PList.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

// ---- writing ----

// Characters XML 1.0 cannot carry in any form: most C0 controls (NUL included) and U+FFFE/U+FFFF.
// A carriage return is written as a reference, since XML readers turn a raw one into a newline.
bool AppendEscaped(std::string& out, std::string_view text)
{
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const char* rep = nullptr;
        switch (c) {
        case '&': rep = "&amp;"; break;
        case '<': rep = "&lt;"; break;
        case '>': rep = "&gt;"; break;
        case '\r': rep = "&#13;"; break;
        case '\t':
        case '\n': continue;
        case 0xEF:
            // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
            if (i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
                (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE)
                return false;
            continue;
        default:
            if (c < 0x20) return false;
            continue;
        }
        out.append(text.data() + start, i - start);
        out += rep;
        start = i + 1;
    }
    out.append(text.data() + start, text.size() - start);
    return true;
}

void AppendBase64(std::string& out, const std::vector<uint8_t>& bytes)
{
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    if (i < bytes.size()) {
        const uint32_t v = (bytes[i] << 16) | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0);
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
}

// Where the text goes: a string, drained into a file descriptor as it grows when there is one,
// so a large store is never held twice in memory.
struct Sink {
    std::string& out;
    int fd = -1;
    bool ok = true;
    bool representable = true; // false once a value had no property-list form

    void Drain(size_t above = 256 * 1024)
    {
        if (fd < 0 || out.size() < above) return;
        if (!representable) { out.clear(); return; } // the file is discarded: nothing more to write
        size_t done = 0;
        while (ok && done < out.size()) {
            const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) ok = false;
            else done += static_cast<size_t>(n);
        }
        out.clear();
    }
};

void Write(const PValue& v, Sink& sink, int depth)
{
    std::string& out = sink.out;
    out.append(static_cast<size_t>(depth), '\t');
    switch (v.Type()) {
    case PType::String:
        out += "<string>";
        if (!AppendEscaped(out, static_cast<const PString&>(v).UTF8())) sink.representable = false;
        out += "</string>\n";
        break;
    case PType::Number: {
        const auto& n = static_cast<const PNumber&>(v);
        char buf[64];
        if (n.IsReal()) {
            std::snprintf(buf, sizeof buf, "<real>%.17g</real>\n", n.Real());
            out += buf;
        } else {
            const auto r = std::to_chars(buf, buf + sizeof buf, n.Int64());
            out += "<integer>";
            out.append(buf, static_cast<size_t>(r.ptr - buf));
            out += "</integer>\n";
        }
        break;
    }
    case PType::Boolean:
        out += static_cast<const PBoolean&>(v).Value() ? "<true/>\n" : "<false/>\n";
        break;
    case PType::Data:
        out += "<data>";
        AppendBase64(out, static_cast<const PData&>(v).Bytes());
        out += "</data>\n";
        break;
    case PType::Date: {
        // Seconds since 2001-01-01 00:00:00 UTC. The XML form holds whole seconds of years 1 to
        // 9999; a date it cannot hold exactly is refused rather than silently moved.
        const double s = static_cast<const PDate&>(v).Seconds();
        struct tm tm {};
        const bool whole = std::isfinite(s) && std::floor(s) == s && std::fabs(s) < 4e11;
        const time_t t = whole ? static_cast<time_t>(s) + 978307200 : 0;
        if (!whole || !gmtime_r(&t, &tm) || tm.tm_year + 1900 < 1 || tm.tm_year + 1900 > 9999) {
            sink.representable = false;
            out += "<date/>\n";
            break;
        }
        char buf[64];
        std::snprintf(buf, sizeof buf, "<date>%04d-%02d-%02dT%02d:%02d:%02dZ</date>\n", tm.tm_year + 1900,
                      tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        out += buf;
        break;
    }
    case PType::Array: {
        const auto& items = static_cast<const PArray&>(v).Items();
        if (items.empty()) { out += "<array/>\n"; break; }
        out += "<array>\n";
        for (const auto& item : items) {
            Write(*item, sink, depth + 1);
            sink.Drain();
        }
        out.append(static_cast<size_t>(depth), '\t');
        out += "</array>\n";
        break;
    }
    case PType::Dictionary: {
        const auto& entries = static_cast<const PDictionary&>(v).Entries();
        if (entries.empty()) { out += "<dict/>\n"; break; }
        out += "<dict>\n";
        for (const auto& [key, item] : entries) {
            out.append(static_cast<size_t>(depth + 1), '\t');
            out += "<key>";
            if (!AppendEscaped(out, key)) sink.representable = false;
            out += "</key>\n";
            Write(*item, sink, depth + 1);
            sink.Drain();
        }
        out.append(static_cast<size_t>(depth), '\t');
        out += "</dict>\n";
        break;
    }
    }
}

// ---- reading ----

class Reader {
public:
    explicit Reader(std::string_view s) : mText(s) {}

    PRef<PValue> Document()
    {
        // No XML text holds a NUL; the general reader stops at one, so leave such files to it.
        if (mText.find('\0') != std::string_view::npos) return {};
        if (!SkipMisc()) return {};
        std::string_view name;
        bool empty = false;
        if (!OpenTag(name, empty) || name != "plist" || empty) return {};
        if (!SkipMisc()) return {};
        auto v = Value(0);
        if (!v || !SkipMisc() || !CloseTag("plist") || !SkipMisc() || mPos != mText.size()) return {};
        return v;
    }

private:
    bool AtEnd() const { return mPos >= mText.size(); }

    void SkipSpace()
    {
        while (!AtEnd() && (mText[mPos] == ' ' || mText[mPos] == '\t' || mText[mPos] == '\n' || mText[mPos] == '\r'))
            ++mPos;
    }

    // Where `end` first appears after `from` outside quoted attribute values; npos when it does
    // not, or when a quote is left open (the general reader reads such markup differently).
    size_t FindOutsideQuotes(size_t from, std::string_view end) const
    {
        char quote = 0;
        for (size_t i = from; i < mText.size(); ++i) {
            const char c = mText[i];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (mText.compare(i, end.size(), end) == 0) {
                return i;
            }
        }
        return std::string_view::npos;
    }

    // White space, the XML declaration, the document type and comments.
    bool SkipMisc()
    {
        for (;;) {
            SkipSpace();
            if (mText.compare(mPos, 2, "<?") == 0) {
                // A processing instruction starts with its target's name ("<?xml").
                if (mPos + 2 >= mText.size() || !std::isalpha(static_cast<unsigned char>(mText[mPos + 2]))) return false;
                const size_t e = FindOutsideQuotes(mPos + 2, "?>");
                if (e == std::string_view::npos) return false;
                mPos = e + 2;
            } else if (mText.compare(mPos, 4, "<!--") == 0) {
                const size_t e = mText.find("-->", mPos + 4);
                if (e == std::string_view::npos) return false;
                mPos = e + 3;
            } else if (mText.compare(mPos, 9, "<!DOCTYPE") == 0) {
                const size_t e = FindOutsideQuotes(mPos + 9, ">");
                if (e == std::string_view::npos) return false;
                // An internal subset or bytes beyond ASCII: left to the general reader.
                for (size_t i = mPos; i < e; ++i)
                    if (mText[i] == '[' || static_cast<unsigned char>(mText[i]) >= 0x80) return false;
                mPos = e + 1;
            } else {
                return true;
            }
        }
    }

    // "<name attrs>" or "<name/>".
    bool OpenTag(std::string_view& name, bool& empty)
    {
        if (AtEnd() || mText[mPos] != '<') return false;
        const size_t e = FindOutsideQuotes(mPos + 1, ">");
        if (e == std::string_view::npos) return false;
        std::string_view tag = mText.substr(mPos + 1, e - mPos - 1);
        mPos = e + 1;
        empty = !tag.empty() && tag.back() == '/';
        if (empty) tag.remove_suffix(1);
        const size_t sp = tag.find_first_of(" \t\r\n");
        name = tag.substr(0, sp);
        if (name.empty() || name.find_first_of("/!?<\"'=&") != std::string_view::npos) return false;
        return sp == std::string_view::npos || Attributes(tag.substr(sp));
    }

    static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    // ` name="value" name='value'`, blanks around; anything else is not well-formed.
    static bool Attributes(std::string_view a)
    {
        size_t i = 0;
        for (;;) {
            const size_t start = i;
            while (i < a.size() && IsBlank(a[i])) ++i;
            if (i == a.size()) return true;
            if (i == start) return false; // attributes are separated by blanks
            const size_t nameStart = i;
            while (i < a.size() && !IsBlank(a[i]) && a[i] != '=' && a[i] != '"' && a[i] != '\'' && a[i] != '<' &&
                   a[i] != '&' && a[i] != '/')
                ++i;
            if (i == nameStart) return false;
            while (i < a.size() && IsBlank(a[i])) ++i;
            if (i == a.size() || a[i] != '=') return false;
            ++i;
            while (i < a.size() && IsBlank(a[i])) ++i;
            if (i == a.size() || (a[i] != '"' && a[i] != '\'')) return false;
            const char quote = a[i++];
            const size_t close = a.find(quote, i);
            if (close == std::string_view::npos) return false;
            const std::string_view value = a.substr(i, close - i);
            if (value.find_first_of("<&") != std::string_view::npos) return false;
            i = close + 1;
        }
    }

    bool CloseTag(std::string_view name)
    {
        if (mText.compare(mPos, 2, "</") != 0) return false;
        if (mText.compare(mPos + 2, name.size(), name) != 0) return false;
        size_t p = mPos + 2 + name.size();
        while (p < mText.size() && (mText[p] == ' ' || mText[p] == '\t' || mText[p] == '\n' || mText[p] == '\r')) ++p;
        if (p >= mText.size() || mText[p] != '>') return false;
        mPos = p + 1;
        return true;
    }

    // Character data up to the closing tag of `name`, with entities decoded.
    bool Text(std::string_view name, std::string& out)
    {
        out.clear();
        const size_t e = mText.find('<', mPos);
        if (e == std::string_view::npos) return false;
        std::string_view raw = mText.substr(mPos, e - mPos);
        mPos = e;
        if (!CloseTag(name)) return false; // CDATA and other markup inside text: not ours
        // Raw control characters are not XML; readers differ on them (a NUL ends a C string).
        for (const char c : raw)
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
        size_t amp = raw.find('&');
        if (amp == std::string_view::npos) {
            out.assign(raw);
            return true;
        }
        size_t start = 0;
        while (amp != std::string_view::npos) {
            out.append(raw.substr(start, amp - start));
            const size_t semi = raw.find(';', amp);
            if (semi == std::string_view::npos) return false;
            const std::string_view ent = raw.substr(amp + 1, semi - amp - 1);
            if (ent == "amp") out += '&';
            else if (ent == "lt") out += '<';
            else if (ent == "gt") out += '>';
            else if (ent == "quot") out += '"';
            else if (ent == "apos") out += '\'';
            else if (ent.size() > 1 && ent[0] == '#') {
                const bool hex = ent[1] == 'x' || ent[1] == 'X';
                const std::string digits(ent.substr(hex ? 2 : 1));
                // A reference longer than any code point needs is read differently elsewhere.
                if (digits.empty() || digits.size() > (hex ? 6u : 7u)) return false;
                char* end = nullptr;
                const unsigned long cp = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
                if (*end || cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
                AppendUTF8(out, static_cast<uint32_t>(cp));
            } else {
                return false;
            }
            start = semi + 1;
            amp = raw.find('&', start);
        }
        out.append(raw.substr(start));
        return true;
    }

    // Values are immutable, so equal short strings and equal numbers can be one shared value:
    // a large store repeats the same few ("PPP", "Modem", 0, 1) tens of thousands of times.
    PRef<PValue> SharedString(const std::string& t)
    {
        if (t.size() > kShareLimit) return PString::Create(t);
        if (auto it = mStrings.find(t); it != mStrings.end()) return it->second;
        auto s = PString::Create(t);
        if (s) mStrings.emplace(s->UTF8(), s);
        return s;
    }

    PRef<PValue> SharedInteger(const std::string& t)
    {
        auto v = Integer(t);
        if (!v) return v;
        const int64_t n = static_cast<const PNumber&>(*v).Int64();
        auto [it, added] = mIntegers.emplace(n, v);
        return it->second;
    }

    static PRef<PValue> Integer(const std::string& t)
    {
        const char* s = t.c_str();
        while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r') ++s;
        if (!*s) return {};
        char* end = nullptr;
        errno = 0;
        long long v;
        if (*s == '-') {
            v = std::strtoll(s, &end, 0);
        } else {
            // Above the signed 64-bit range a value would come back negative: not ours to read.
            const unsigned long long u = std::strtoull(s, &end, 0);
            if (u > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) return {};
            v = static_cast<long long>(u);
        }
        while (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r') ++end;
        if (*end || errno) return {};
        return PNum(v);
    }

    static PRef<PValue> Data(const std::string& t)
    {
        std::vector<uint8_t> bytes;
        bytes.reserve(t.size() * 3 / 4);
        uint32_t acc = 0;
        int bits = 0;
        bool padding = false; // after the first '=' only padding and blanks may follow
        size_t symbols = 0, pad = 0;
        for (const char c : t) {
            int v;
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') ++symbols;
            if (padding && c != '=' && c != ' ' && c != '\t' && c != '\n' && c != '\r') return {};
            if (c >= 'A' && c <= 'Z') v = c - 'A';
            else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
            else if (c >= '0' && c <= '9') v = c - '0' + 52;
            else if (c == '+') v = 62;
            else if (c == '/') v = 63;
            else if (c == '=') { padding = true; ++pad; continue; }
            else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
            else return {};
            acc = (acc << 6) | static_cast<uint32_t>(v);
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                bytes.push_back(static_cast<uint8_t>((acc >> bits) & 0xFF));
            }
        }
        // Only whole groups of four: readers differ on what a cut-off group means.
        if (symbols % 4 != 0 || pad > 2) return {};
        return PData::Create(std::move(bytes));
    }

    static PRef<PValue> Date(const std::string& t)
    {
        // Exactly "YYYY-MM-DDTHH:MM:SSZ": strptime alone would also take blanks inside.
        static const char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
        if (t.size() != sizeof kShape - 1) return {};
        for (size_t i = 0; i < t.size(); ++i)
            if (kShape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(t[i])) : t[i] != kShape[i]) return {};
        struct tm tm {};
        const char* end = strptime(t.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm);
        if (!end || *end) return {};
        return PDate::Create(static_cast<double>(timegm(&tm) - 978307200));
    }

    // `depth`: the containers around this value. Deeper nesting than any real store has is
    // refused before it can exhaust the stack.
    PRef<PValue> Value(int depth)
    {
        std::string_view name;
        bool empty = false;
        if (!OpenTag(name, empty)) return {};
        if ((name == "dict" || name == "array") && depth >= kPListMaxNesting) {
            mTooDeep = true;
            return {};
        }
        if (name == "dict") {
            std::vector<std::pair<std::string, PRef<PValue>>> entries;
            if (!empty) {
                for (;;) {
                    SkipMisc();
                    if (CloseTag("dict")) break;
                    std::string_view keyTag;
                    bool keyEmpty = false;
                    if (!OpenTag(keyTag, keyEmpty) || keyTag != "key") return {};
                    std::string key;
                    if (!keyEmpty && !Text("key", key)) return {};
                    if (!PString::Create(key)) return {}; // keys are text, as strings are
                    SkipMisc();
                    auto v = Value(depth + 1);
                    if (!v) return {};
                    entries.emplace_back(std::move(key), std::move(v));
                }
            }
            return PDictionary::Create(std::move(entries));
        }
        if (name == "array") {
            std::vector<PRef<PValue>> items;
            if (!empty) {
                for (;;) {
                    SkipMisc();
                    if (CloseTag("array")) break;
                    auto v = Value(depth + 1);
                    if (!v) return {};
                    items.push_back(std::move(v));
                }
            }
            return PArray::Create(std::move(items));
        }
        if (name == "true" || name == "false") {
            if (!empty && !CloseTag(name)) return {};
            return name == "true" ? mTrue : mFalse;
        }
        std::string text;
        if (!empty && !Text(name, text)) return {};
        if (name == "string") return SharedString(text);
        if (name == "integer") return SharedInteger(text);
        if (name == "real") {
            char* end = nullptr;
            const double d = std::strtod(text.c_str(), &end);
            if (text.empty() || *end) return {};
            return PNumber::CreateReal(d);
        }
        if (name == "data") return Data(text);
        if (name == "date") return Date(text);
        return {};
    }

    static constexpr size_t kShareLimit = 64;

public:
    bool mTooDeep = false;

private:
    std::string_view mText;
    size_t mPos = 0;
    // Keys are views of the shared strings' own text, which the map keeps alive.
    std::unordered_map<std::string_view, PRef<PValue>> mStrings;
    std::unordered_map<int64_t, PRef<PValue>> mIntegers;
    PRef<PValue> mTrue = PBoolean::Create(true);
    PRef<PValue> mFalse = PBoolean::Create(false);
};

} // namespace

namespace {

void WriteDocument(const PValue& value, Sink& sink)
{
    sink.out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                "<plist version=\"1.0\">\n";
    Write(value, sink, 0);
    sink.out += "</plist>\n";
}

} // namespace

bool StoreXMLWrite(const PValue& value, std::string& out)
{
    const size_t start = out.size();
    Sink sink{out};
    WriteDocument(value, sink);
    if (!sink.representable) out.resize(start);
    return sink.representable;
}

StoreXMLResult StoreXMLWriteToFile(const PValue& value, int fd)
{
    std::string buffer;
    buffer.reserve(512 * 1024);
    Sink sink{buffer, fd};
    WriteDocument(value, sink);
    sink.Drain(0);
    if (!sink.representable) return StoreXMLResult::NotRepresentable;
    return sink.ok ? StoreXMLResult::Ok : StoreXMLResult::WriteFailed;
}

PRef<PValue> StoreXMLRead(std::string_view xml, bool* tooDeep)
{
    Reader reader(xml);
    auto v = reader.Document();
    if (tooDeep) *tooDeep = reader.mTooDeep;
    return v;
}
