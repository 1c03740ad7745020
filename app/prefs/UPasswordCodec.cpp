#include "app/prefs/UPasswordCodec.h"

#include <cassert>
#include <vector>

OSStatus UPasswordCodec::CopyEncodePassword(const PString* password, PRef<PData>& out)
{
    assert(out.empty());
    out.reset();
    if (!password) return kStatusBadParam;
    out = PData::Create(password->UTF16BE());
    return out ? kStatusOK : kStatusValueNotMade;
}

OSStatus UPasswordCodec::CopyDecodePassword(const PData* data, PRef<PString>& out)
{
    assert(out.empty());
    out.reset();
    if (!data) return kStatusBadParam;
    const auto& b = data->Bytes();
    std::u16string units(b.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>((b[2 * i] << 8) | b[2 * i + 1]);
    out = PString::CreateWithUTF16(units.data(), units.size());
    return out ? kStatusOK : kStatusValueNotMade;
}
