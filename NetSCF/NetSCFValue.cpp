#include "NetSCF/NetSCFValue.h"

#include "platform/cf/PText.h"

#include <arpa/inet.h>
#include <cassert>
#include <cstdio>

OSStatus NetSCFCreateStringWithMacAddress(const uint8_t macAddr[6], PRef<PString>& result)
{
    assert(result.empty());
    result.reset();
    char text[6 * 3 + 1];
    char* p = text;
    for (int i = 0; i < 6; ++i) p += std::snprintf(p, 4, "%02x:", macAddr[i]);
    text[17] = '\0';
    result = PString::Create(text);
    return result ? kStatusOK : kStatusValueNotMade;
}

OSStatus NetSCFStringToMacAddress(const PString& cfStr, uint8_t macAddr[6])
{
    char buf[18];
    const auto ascii = PStringGetBytes(cfStr, PEncoding::ASCII);
    if (!ascii || ascii->size() >= sizeof buf) return kStatusValueNotMade;
    CopyCString(buf, sizeof buf, *ascii);
    unsigned f[6];
    if (std::sscanf(buf, "%02x:%02x:%02x:%02x:%02x:%02x", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]) < 6)
        return -1;
    for (int i = 0; i < 6; ++i) macAddr[i] = static_cast<uint8_t>(f[i]);
    return kStatusOK;
}

OSStatus NetSCFCreateStringWithInetAddress(in_addr address, PRef<PString>& result)
{
    assert(result.empty());
    result.reset();
    char text[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &address, text, sizeof text)) return kStatusValueNotMade;
    result = PString::Create(text);
    return result ? kStatusOK : kStatusValueNotMade;
}

OSStatus NetSCFCreateArrayWithInetAddresses(uint32_t addrCount, const in_addr* addresses, PRef<PArray>& result)
{
    assert(result.empty());
    result.reset();
    PRef<PArray> arr;
    OSStatus err = CFXArrayCreateMutable(arr);
    for (uint32_t i = 0; err == kStatusOK && i < addrCount; ++i) {
        PRef<PString> s;
        err = NetSCFCreateStringWithInetAddress(addresses[i], s);
        if (err == kStatusOK) arr->Append(s);
    }
    if (err == kStatusOK) result = std::move(arr);
    return err;
}

OSStatus NetSCFCopyEncodedPPPPassword(const PString& password, PRef<PData>& encodedPassword)
{
    assert(encodedPassword.empty());
    encodedPassword.reset();
    encodedPassword = PData::Create(password.UTF16BE());
    return encodedPassword ? kStatusOK : kStatusValueNotMade;
}

PValue* CFXRetain(const PValue* value)
{
    if (value) value->RetainRef();
    return const_cast<PValue*>(value);
}

void CFXRelease(const PValue* value)
{
    if (value) value->ReleaseRef();
}

OSStatus CFXDictionaryCreateMutable(PRef<PDictionary>& result)
{
    assert(result.empty());
    result = PDictionary::CreateMutable();
    return result ? kStatusOK : kStatusValueNotMade;
}

OSStatus CFXArrayCreateMutable(PRef<PArray>& result)
{
    assert(result.empty());
    result = PArray::CreateMutable();
    return result ? kStatusOK : kStatusValueNotMade;
}

OSStatus CFXArrayCreateWithDictionaryKeys(const PDictionary& dict, PRef<PArray>& result)
{
    assert(result.empty());
    result.reset();
    std::vector<PRef<PValue>> keys;
    keys.reserve(dict.Count());
    for (const auto& entry : dict.Entries()) {
        auto k = PString::Create(entry.first);
        if (!k) return kStatusValueNotMade;
        keys.push_back(std::move(k));
    }
    result = PArray::Create(std::move(keys));
    return result ? kStatusOK : kStatusValueNotMade;
}

OSStatus CFXDictionarySetNumber(PDictionary& dict, const PString& key, int32_t value)
{
    auto n = PNumber::Create(value);
    if (!n) return kStatusValueNotMade;
    return dict.Set(key.UTF8(), std::move(n)) ? kStatusOK : kStatusBadParam;
}
