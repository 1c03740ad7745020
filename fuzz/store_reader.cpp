// The store's own XML reader against the general property-list reader it stands in for. Where
// ours accepts a file, the general one must read the same tree; where ours refuses it for its
// nesting, so must the general one. Whatever ours accepts, its writer either refuses or writes
// a file both readers read back as the same tree.
#include "platform/cf/PList.h"
#include "platform/store/StoreXML.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void Disagree(const char* what, std::string_view input)
{
    std::fprintf(stderr, "store_reader: %s\ninput (%zu bytes): %.*s\n", what, input.size(),
                 static_cast<int>(input.size() > 2000 ? 2000 : input.size()), input.data());
    std::abort();
}

// Equal trees, a NaN being the same as a NaN (PValue::Equals compares numbers as numbers).
bool Same(const PValue& a, const PValue& b)
{
    if (a.Type() != b.Type()) return false;
    switch (a.Type()) {
    case PType::Number: {
        const auto& x = static_cast<const PNumber&>(a);
        const auto& y = static_cast<const PNumber&>(b);
        if (x.IsReal() && y.IsReal() && std::isnan(x.Real()) && std::isnan(y.Real())) return true;
        return x.Equals(y);
    }
    case PType::Array: {
        const auto& x = static_cast<const PArray&>(a).Items();
        const auto& y = static_cast<const PArray&>(b).Items();
        if (x.size() != y.size()) return false;
        for (size_t i = 0; i < x.size(); ++i)
            if (!Same(*x[i], *y[i])) return false;
        return true;
    }
    case PType::Dictionary: {
        const auto& x = static_cast<const PDictionary&>(a);
        const auto& y = static_cast<const PDictionary&>(b);
        if (x.Count() != y.Count()) return false;
        for (const auto& [k, v] : x.Entries()) {
            const PValue* w = y.Get(k);
            if (!w || !Same(*v, *w)) return false;
        }
        return true;
    }
    default: return a.Equals(b);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    bool tooDeep = false;
    const PRef<PValue> ours = StoreXMLRead(input, &tooDeep);
    const PRef<PValue> general = PListCreateFromData(input, false);
    if (tooDeep && general) Disagree("ours refused the nesting, the general reader accepted it", input);
    if (!ours) return 0;
    if (!general) Disagree("ours accepted what the general reader refuses", input);
    if (!Same(*ours, *general)) Disagree("the readers read different trees", input);

    std::string xml;
    if (!StoreXMLWrite(*ours, xml)) return 0; // a value no XML property list can carry: refused
    const PRef<PValue> back = StoreXMLRead(xml);
    const PRef<PValue> generalBack = PListCreateFromData(xml, false);
    if (!back || !Same(*back, *ours)) Disagree("our own output does not read back as the same tree", input);
    if (!generalBack || !Same(*generalBack, *ours)) Disagree("the general reader reads our output differently", input);
    return 0;
}
