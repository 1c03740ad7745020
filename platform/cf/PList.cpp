#include "platform/cf/PList.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <plist/plist.h>
#include <unistd.h>

namespace {

struct PlistFree {
    void operator()(plist_t p) const { if (p) plist_free(p); }
};
using PlistHandle = std::unique_ptr<void, PlistFree>;

struct FromNodeState {
    bool mut = false;
    bool rewritable = true;
};

// The node's own XML text (libplist writes a lone value as a whole document).
std::string NodeXML(plist_t node)
{
    char* out = nullptr;
    uint32_t len = 0;
    plist_to_xml(node, &out, &len);
    std::string text(out ? out : "", out ? len : 0);
    if (out) plist_to_xml_free(out);
    return text;
}

// A date exactly as libplist holds it. Its accessor gives 32-bit seconds, which wrap for dates
// before 1933 or after 2069; its XML writer prints the full whole seconds, truncated toward
// zero, and the accessor's fraction is the magnitude of the rest.
bool ExactDate(plist_t node, double& seconds)
{
    int32_t sec = 0, usec = 0;
    plist_get_date_val(node, &sec, &usec);
    const std::string xml = NodeXML(node);
    const size_t open = xml.find("<date>");
    if (open == std::string::npos) return false;
    struct tm tm {};
    const char* end = strptime(xml.c_str() + open + 6, "%Y-%m-%dT%H:%M:%SZ", &tm);
    if (!end) return false;
    const auto whole = static_cast<int64_t>(timegm(&tm)) - 978307200;
    const double frac = std::abs(usec) / 1e6;
    // (Within a second before 2001 the sign is lost: libplist reports none there.)
    seconds = static_cast<double>(whole) + (whole < 0 ? -frac : frac);
    return true;
}

PRef<PValue> FromNode(plist_t node, FromNodeState& st, int depth)
{
    const bool mut = st.mut;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return PBoolean::Create(b != 0);
    }
    case PLIST_UINT: {
        // libplist keeps every integer as 64 bits; negative ones come back as their two's complement.
        // A binary list's 128-bit integers above the signed range read the same; only the node's
        // text tells them apart, and no tree of ours can write them back unchanged.
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        if (static_cast<int64_t>(v) < 0 && NodeXML(node).find("<integer>-") == std::string::npos)
            st.rewritable = false;
        return PNumber::Create(static_cast<int64_t>(v));
    }
    case PLIST_UID: {
        // Read as its number; writing it back would make it a plain integer.
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        st.rewritable = false;
        return PNumber::Create(static_cast<int64_t>(v));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return PNumber::CreateReal(d);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        uint64_t len = 0;
        const char* s = plist_get_string_ptr(node, &len);
        return PString::Create(std::string_view(s ? s : "", s ? len : 0));
    }
    case PLIST_DATA: {
        uint64_t len = 0;
        const char* p = plist_get_data_ptr(node, &len);
        return PData::Create(p, p ? len : 0);
    }
    case PLIST_DATE: {
        double seconds = 0;
        if (!ExactDate(node, seconds)) return {};
        return PDate::Create(seconds);
    }
    case PLIST_ARRAY: {
        if (depth >= kPListMaxNesting) return {};
        auto arr = PArray::CreateMutable();
        const uint32_t n = plist_array_get_size(node);
        for (uint32_t i = 0; i < n; ++i) {
            auto v = FromNode(plist_array_get_item(node, i), st, depth + 1);
            if (!v) return {};
            arr->Append(std::move(v));
        }
        if (mut) return arr;
        return PArray::Create(arr->Items());
    }
    case PLIST_DICT: {
        if (depth >= kPListMaxNesting) return {};
        auto dict = PDictionary::CreateMutable();
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char* key = nullptr;
            plist_t val = nullptr;
            plist_dict_next_item(node, it, &key, &val);
            if (!val) { free(key); break; }
            auto v = FromNode(val, st, depth + 1);
            const bool keyOk = key && PString::Create(key);
            if (!v || !keyOk) { free(key); free(it); return {}; }
            dict->Set(key, std::move(v));
            free(key);
        }
        free(it);
        if (mut) return dict;
        return dict->ImmutableCopy();
    }
    default:
        return {};
    }
}

plist_t ToNode(const PValue& v)
{
    switch (v.Type()) {
    case PType::String: return plist_new_string(static_cast<const PString&>(v).UTF8().c_str());
    case PType::Boolean: return plist_new_bool(static_cast<const PBoolean&>(v).Value() ? 1 : 0);
    case PType::Number: {
        const auto& n = static_cast<const PNumber&>(v);
        if (n.IsReal()) return plist_new_real(n.Real());
        return plist_new_uint(static_cast<uint64_t>(n.Int64()));
    }
    case PType::Data: {
        const auto& d = static_cast<const PData&>(v);
        return plist_new_data(reinterpret_cast<const char*>(d.Bytes().data()), d.Length());
    }
    case PType::Date: {
        // plist_new_date takes 32-bit seconds; a date outside that range is made from its XML
        // text, which holds whole seconds (all an XML list keeps of a date).
        const double s = static_cast<const PDate&>(v).Seconds();
        if (!std::isfinite(s)) return nullptr;
        if (s > -2147483648.0 && s < 2147483647.0) {
            const auto sec = static_cast<int32_t>(s);
            return plist_new_date(sec, static_cast<int32_t>((s - sec) * 1e6));
        }
        if (std::fabs(s) > 4e11) return nullptr;
        const time_t t = static_cast<time_t>(std::floor(s)) + 978307200;
        struct tm tm {};
        if (!gmtime_r(&t, &tm)) return nullptr;
        char doc[128];
        std::snprintf(doc, sizeof doc, "<plist version=\"1.0\"><date>%04d-%02d-%02dT%02d:%02d:%02dZ</date></plist>",
                      tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        plist_t node = nullptr;
        plist_from_xml(doc, static_cast<uint32_t>(std::strlen(doc)), &node);
        return node;
    }
    case PType::Array: {
        plist_t a = plist_new_array();
        for (const auto& item : static_cast<const PArray&>(v).Items()) {
            plist_t n = ToNode(*item);
            if (!n) { plist_free(a); return nullptr; }
            plist_array_append_item(a, n);
        }
        return a;
    }
    case PType::Dictionary: {
        plist_t d = plist_new_dict();
        for (const auto& [k, item] : static_cast<const PDictionary&>(v).Entries()) {
            plist_t n = ToNode(*item);
            if (!n) { plist_free(d); return nullptr; }
            plist_dict_set_item(d, k.c_str(), n);
        }
        return d;
    }
    }
    return nullptr;
}

// libplist aborts on some broken binary lists (an assertion in its dictionary iterator): a key
// that is not a string, or a string it cannot convert (an unpaired surrogate, a NUL), which
// leaves the dictionary's keys and values out of step. Such a file is refused before libplist
// sees it: every key must name a string object, and every string object must convert.
bool BinaryDictKeysAreStrings(std::string_view b)
{
    if (b.size() < 8 + 32) return false;
    auto be = [&](size_t pos, size_t n, uint64_t& v) {
        if (n == 0 || n > 8 || pos > b.size() || b.size() - pos < n) return false;
        v = 0;
        for (size_t i = 0; i < n; ++i) v = (v << 8) | static_cast<uint8_t>(b[pos + i]);
        return true;
    };
    const size_t trailer = b.size() - 32;
    const size_t offsetSize = static_cast<uint8_t>(b[trailer + 6]);
    const size_t refSize = static_cast<uint8_t>(b[trailer + 7]);
    uint64_t count = 0, table = 0;
    if (!be(trailer + 8, 8, count) || !be(trailer + 24, 8, table)) return false;
    if (offsetSize == 0 || offsetSize > 8 || refSize == 0 || refSize > 8) return false;
    if (table > trailer || count > (trailer - table) / offsetSize) return false;
    // A string object that converts: ASCII without NUL, or UTF-16 without U+0000 and with
    // paired surrogates.
    auto keyString = [&](uint64_t object) {
        uint64_t off = 0;
        if (object >= count || !be(static_cast<size_t>(table + object * offsetSize), offsetSize, off) || off >= trailer)
            return false;
        const auto m = static_cast<uint8_t>(b[static_cast<size_t>(off)]);
        if ((m >> 4) != 0x5 && (m >> 4) != 0x6) return false;
        uint64_t len = m & 0xF;
        size_t pos = static_cast<size_t>(off) + 1;
        if (len == 0xF) {
            if (pos >= trailer) return false;
            const auto im = static_cast<uint8_t>(b[pos]);
            if ((im >> 4) != 0x1 || (im & 0xF) > 3) return false;
            const size_t n = size_t(1) << (im & 0xF);
            if (!be(pos + 1, n, len)) return false;
            pos += 1 + n;
        }
        const uint64_t bytes = (m >> 4) == 0x6 ? len * 2 : len;
        if (len > trailer || pos > trailer || bytes > trailer - pos) return false;
        if ((m >> 4) == 0x5) return b.substr(pos, static_cast<size_t>(len)).find('\0') == std::string_view::npos;
        for (uint64_t i = 0; i < len; ++i) {
            uint64_t u = 0;
            be(pos + static_cast<size_t>(i) * 2, 2, u);
            if (u == 0) return false;
            if (u >= 0xDC00 && u <= 0xDFFF) return false; // a low surrogate alone
            if (u >= 0xD800 && u <= 0xDBFF) {
                uint64_t lo = 0;
                if (i + 1 >= len) return false;
                be(pos + static_cast<size_t>(i + 1) * 2, 2, lo);
                if (lo < 0xDC00 || lo > 0xDFFF) return false;
                ++i;
            }
        }
        return true;
    };
    for (uint64_t o = 0; o < count; ++o) {
        uint64_t off = 0;
        if (!be(static_cast<size_t>(table + o * offsetSize), offsetSize, off) || off >= trailer) return false;
        const auto m = static_cast<uint8_t>(b[static_cast<size_t>(off)]);
        if (((m >> 4) == 0x5 || (m >> 4) == 0x6) && !keyString(o)) return false;
        if ((m >> 4) != 0xD) continue;
        uint64_t entries = m & 0xF;
        size_t pos = static_cast<size_t>(off) + 1;
        if (entries == 0xF) {
            // The count follows as an integer object: 0x1N and 2^N bytes.
            if (pos >= trailer) return false;
            const auto im = static_cast<uint8_t>(b[pos]);
            if ((im >> 4) != 0x1 || (im & 0xF) > 3) return false;
            const size_t n = size_t(1) << (im & 0xF);
            if (!be(pos + 1, n, entries)) return false;
            pos += 1 + n;
        }
        if (entries > (trailer - std::min(pos, trailer)) / refSize) return false;
        for (uint64_t k = 0; k < entries; ++k) {
            uint64_t ref = 0;
            if (!be(pos + static_cast<size_t>(k) * refSize, refSize, ref) || !keyString(ref)) return false;
        }
    }
    return true;
}

} // namespace

PRef<PValue> PListCreateFromData(std::string_view bytes, bool mutableContainers, bool* rewritable)
{
    if (rewritable) *rewritable = true;
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return {};
    plist_t root = nullptr;
    const auto len = static_cast<uint32_t>(bytes.size());
    if (plist_is_binary(bytes.data(), len)) {
        if (!BinaryDictKeysAreStrings(bytes)) return {};
        plist_from_bin(bytes.data(), len, &root);
    }
    else plist_from_xml(bytes.data(), len, &root);
    PlistHandle h(root);
    if (!root) return {};
    FromNodeState st;
    st.mut = mutableContainers;
    auto v = FromNode(root, st, 0);
    if (v && rewritable) *rewritable = st.rewritable;
    return v;
}

bool PListCreateXMLData(const PValue& value, std::string& xml)
{
    PlistHandle root(ToNode(value));
    if (!root) return false;
    char* out = nullptr;
    uint32_t len = 0;
    plist_to_xml(root.get(), &out, &len);
    if (!out) return false;
    xml.assign(out, len);
    plist_to_xml_free(out);
    return true;
}

int ReadWholeFile(const std::string& path, std::string& bytes)
{
    bytes.clear();
    // Without blocking: a FIFO in a file's place must not hang the reader in open().
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        return e;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    }
    // Bounded by the size it had when opened: a file that grows meanwhile is read as it was.
    const auto size = static_cast<size_t>(st.st_size);
    bytes.resize(size);
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, bytes.data() + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int e = errno;
            ::close(fd);
            bytes.clear();
            return e;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    ::close(fd);
    return 0;
}

PListReadResult PListReadFile(const std::string& path, bool mutableContainers, PRef<PValue>& out, int* err)
{
    out.reset();
    std::string bytes;
    const int e = ReadWholeFile(path, bytes);
    if (err) *err = e;
    if (e == ENOENT) return PListReadResult::NotFound;
    if (e != 0) return PListReadResult::IOError;
    out = PListCreateFromData(bytes, mutableContainers);
    return out ? PListReadResult::Ok : PListReadResult::NotAPropertyList;
}
