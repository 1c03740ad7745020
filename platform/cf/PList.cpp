#include "platform/cf/PList.h"

#include <cerrno>
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

PRef<PValue> FromNode(plist_t node, bool mut)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return PBoolean::Create(b != 0);
    }
    case PLIST_UINT: {
        // libplist keeps every integer as 64 bits; negative ones come back as their two's complement.
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return PNumber::Create(static_cast<int64_t>(v));
    }
    case PLIST_UID: {
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
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
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return PDate::Create(sec + usec / 1e6);
    }
    case PLIST_ARRAY: {
        auto arr = PArray::CreateMutable();
        const uint32_t n = plist_array_get_size(node);
        for (uint32_t i = 0; i < n; ++i) {
            auto v = FromNode(plist_array_get_item(node, i), mut);
            if (!v) return {};
            arr->Append(std::move(v));
        }
        if (mut) return arr;
        return PArray::Create(arr->Items());
    }
    case PLIST_DICT: {
        auto dict = PDictionary::CreateMutable();
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char* key = nullptr;
            plist_t val = nullptr;
            plist_dict_next_item(node, it, &key, &val);
            if (!val) { free(key); break; }
            auto v = FromNode(val, mut);
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
        const double s = static_cast<const PDate&>(v).Seconds();
        auto sec = static_cast<int32_t>(s);
        auto usec = static_cast<int32_t>((s - sec) * 1e6);
        return plist_new_date(sec, usec);
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

} // namespace

PRef<PValue> PListCreateFromData(std::string_view bytes, bool mutableContainers)
{
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return {};
    plist_t root = nullptr;
    const auto len = static_cast<uint32_t>(bytes.size());
    if (plist_is_binary(bytes.data(), len)) plist_from_bin(bytes.data(), len, &root);
    else plist_from_xml(bytes.data(), len, &root);
    PlistHandle h(root);
    if (!root) return {};
    return FromNode(root, mutableContainers);
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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int e = errno;
            ::close(fd);
            return e;
        }
        if (n == 0) break;
        bytes.append(buf, static_cast<size_t>(n));
    }
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
