#include "app/netconfig/USysConfig.h"

#include "platform/cf/PText.h"
#include "platform/store/SCPreferences.h"

#include <functional>
#include <string>

namespace {

constexpr size_t kTextBufferSize = 1024;
constexpr size_t kSetNameSize = 255;

// Text from the store as the system's C strings give it; nullptr (absent) when it does not
// fit a buffer of `bufferSize` bytes with its terminator.
const std::string* TextOf(const PValue* v, size_t bufferSize = kTextBufferSize)
{
    const PString* s = PValue::As<PString>(v);
    if (!s || s->UTF8().size() + 1 > bufferSize) return nullptr;
    return &s->UTF8();
}

bool Int32Of(const PValue* v, int32_t& out)
{
    if (const PNumber* n = PValue::As<PNumber>(v)) {
        if (!n->GetInt32(out)) out = static_cast<int32_t>(n->Int64());
        return true;
    }
    if (const PBoolean* b = PValue::As<PBoolean>(v)) {
        out = b->Value() ? 1 : 0;
        return true;
    }
    return false;
}

// The set ID at the end of "/Sets/{setID}".
std::string LastPathComponent(std::string path)
{
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const auto pos = path.find_last_of('/');
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

const PDictionary* Child(const PDictionary* d, std::string_view key) { return d ? d->GetAs<PDictionary>(key) : nullptr; }

const PString* DeviceNameOf(const PDictionary* service)
{
    return Child(service, "Interface") ? Child(service, "Interface")->GetAs<PString>("DeviceName") : nullptr;
}

PRef<PString> StoreString(const char* cText)
{
    return cText ? PStringCreateWithBytes(cText, PEncoding::ASCII) : PRef<PString>();
}

// Visits the current location's services in service order; `visit` returns false to stop.
// False when the walk could not start (no current set, no order, no services).
bool WalkCurrentServices(const std::function<bool(const PDictionary& service, const PString& deviceName)>& visit)
{
    PRef<PString> currentSet;
    PRef<PDictionary> sets, services;
    USysConfig::CopyRootKeys(currentSet, sets, services);
    if (!currentSet || !sets || !services) return false;
    const PDictionary* set = sets->GetAs<PDictionary>(LastPathComponent(currentSet->UTF8()));
    const PDictionary* ipv4 = Child(Child(Child(set, "Network"), "Global"), "IPv4");
    const PArray* order = ipv4 ? ipv4->GetAs<PArray>("ServiceOrder") : nullptr;
    if (!order) return false;
    for (size_t i = 0; i < order->Count(); ++i) {
        const PString* id = order->AtAs<PString>(i);
        const PDictionary* service = id ? services->GetAs<PDictionary>(id->UTF8()) : nullptr;
        const PString* device = DeviceNameOf(service);
        if (!device) continue;
        if (!visit(*service, *device)) break;
    }
    return true;
}

} // namespace

int32_t USysConfig::CopyRootKeys(PRef<PString>& currentSet, PRef<PDictionary>& sets, PRef<PDictionary>& services)
{
    currentSet = nullptr;
    sets = nullptr;
    services = nullptr;
    // A fresh read connection: the store as last committed. No lock.
    SCPreferencesRef prefs = SCPreferencesCreate("Kavanti");
    if (!prefs) return kStatusOK;
    currentSet = PRefCast<PString>(SCPreferencesGetValue(prefs.get(), "CurrentSet"));
    sets = PRefCast<PDictionary>(SCPreferencesGetValue(prefs.get(), "Sets"));
    services = PRefCast<PDictionary>(SCPreferencesGetValue(prefs.get(), "NetworkServices"));
    return kStatusOK;
}

int32_t USysConfig::CopySetDictionary(PRef<PDictionary>& sets)
{
    PRef<PString> currentSet;
    PRef<PDictionary> services;
    CopyRootKeys(currentSet, sets, services);
    return sets ? kStatusOK : kStatusValueNotMade;
}

int32_t USysConfig::CopyNetworkServicesDic(PRef<PDictionary>& services)
{
    PRef<PString> currentSet;
    PRef<PDictionary> sets;
    CopyRootKeys(currentSet, sets, services);
    return services ? kStatusOK : kStatusValueNotMade;
}

bool USysConfig::GetCurrentSetName(char* name)
{
    if (!name) return false;
    PRef<PString> currentSet;
    PRef<PDictionary> sets, services;
    CopyRootKeys(currentSet, sets, services);
    if (!currentSet || !sets) return false;
    const PDictionary* set = sets->GetAs<PDictionary>(LastPathComponent(currentSet->UTF8()));
    const std::string* text = TextOf(set ? set->Get("UserDefinedName") : nullptr, kSetNameSize);
    if (!text) return false;
    CopyCString(name, kSetNameSize, *text);
    return true;
}

bool USysConfig::GetServiceDict(const PString* bsdName, PRef<PDictionary>& serviceDict)
{
    serviceDict = nullptr;
    if (!bsdName) return false;
    WalkCurrentServices([&](const PDictionary& service, const PString& device) {
        if (device.UTF8() != bsdName->UTF8()) return true;
        serviceDict = service.ImmutableCopy();
        return false;
    });
    return static_cast<bool>(serviceDict);
}

int16_t USysConfig::GetActiveServiceCount()
{
    int16_t count = 0;
    WalkCurrentServices([&](const PDictionary& service, const PString&) {
        if (!service.Contains("__INACTIVE__")) ++count;
        return true;
    });
    return count;
}

bool USysConfig::ServiceIsActive(const PString* bsdName)
{
    if (!bsdName) return false;
    bool active = false;
    WalkCurrentServices([&](const PDictionary& service, const PString& device) {
        if (device.UTF8() == bsdName->UTF8() && !service.Contains("__INACTIVE__")) active = true;
        return !active;
    });
    return active;
}

bool USysConfig::GetCurrentSetting(const PString* bsdName, SysConfigDataRec& data)
{
    PRef<PDictionary> service;
    if (!GetServiceDict(bsdName, service)) return false;

    const PDictionary* modem = Child(service.get(), "Modem");
    const PDictionary* ppp = Child(service.get(), "PPP");
    const PDictionary* proxies = Child(service.get(), "Proxies");

    if (const std::string* t = TextOf(modem ? modem->Get("ConnectionScript") : nullptr)) data.cclFilePath.Assign(*t);
    if (const std::string* t = TextOf(ppp ? ppp->Get("CommRemoteAddress") : nullptr)) data.accessPoint.Assign(*t);
    if (const std::string* t = TextOf(ppp ? ppp->Get("AuthName") : nullptr)) data.userName.Assign(*t);
    if (const PData* encoded = ppp ? ppp->GetAs<PData>("AuthPassword") : nullptr) {
        PRef<PString> password;
        if (CopyDecodePassword(encoded, password) == kStatusOK && password) {
            if (const std::string* t = TextOf(password.get())) data.password.Assign(*t);
        }
    }
    int32_t enable = 0;
    if (proxies && Int32Of(proxies->Get("HTTPEnable"), enable)) {
        if (enable == 0) {
            data.proxyServer.Assign("NULL");
        } else {
            if (const std::string* t = TextOf(proxies->Get("HTTPProxy"))) data.proxyServer.Assign(*t);
            int32_t port = 0;
            if (Int32Of(proxies->Get("HTTPPort"), port)) data.proxyPort.Assign(std::to_string(port));
        }
    }
    return true;
}

bool USysConfig::FindLocation(const char* locationName, PRef<PDictionary>* setDict)
{
    if (setDict) *setDict = nullptr;
    const PRef<PString> name = StoreString(locationName);
    if (!name) return false;
    PRef<PDictionary> sets;
    if (CopySetDictionary(sets) != kStatusOK) return false;
    for (const auto& [id, value] : sets->Entries()) {
        const PDictionary* set = PValue::As<PDictionary>(value.get());
        const PString* setName = set ? set->GetAs<PString>("UserDefinedName") : nullptr;
        if (setName && setName->UTF8() == name->UTF8()) {
            if (setDict) *setDict = set->ImmutableCopy();
            return true;
        }
    }
    return false;
}

bool USysConfig::FindDevice(const char* locationName, const char* bsdName)
{
    if (!locationName || !bsdName) return false;
    const PRef<PString> device = StoreString(bsdName);
    PRef<PDictionary> set;
    if (!device || !FindLocation(locationName, &set)) return false;
    const PDictionary* links = Child(Child(set.get(), "Network"), "Service");
    if (!links) return false;
    PRef<PDictionary> services;
    if (CopyNetworkServicesDic(services) != kStatusOK) return false;
    for (const auto& [id, link] : links->Entries()) {
        const PString* name = DeviceNameOf(services->GetAs<PDictionary>(id));
        if (name && name->UTF8() == device->UTF8()) return true;
    }
    return false;
}
