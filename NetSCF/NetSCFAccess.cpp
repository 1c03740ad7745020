#include "NetSCF/NetSCFAccess.h"

#include <cstdio>
#include <string>
#include <vector>

PRef<PString> gClientName;
SCPreferencesRef gPrefsRef;
int32_t gPrefsOpenCount = 0;
bool gPrefsLocked = false;
bool gPrefsDirty = false;

void NetSCAssertFailed(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "NetSCAssert failure: %s (%s:%d)\n", condition, file, line);
}

namespace {

void CheckInvariants()
{
    NetSCAssert(gPrefsOpenCount >= 0);
    NetSCAssert(gPrefsOpenCount > 0 || !gPrefsRef);
    NetSCAssert(gPrefsOpenCount > 0 || (!gPrefsDirty && !gPrefsLocked));
    NetSCAssert(!gPrefsLocked || gPrefsRef);
}

OSStatus MakeString(const std::string& text, PRef<PString>& out)
{
    out = PStr(text);
    return out ? kStatusOK : kStatusValueNotMade;
}

} // namespace

void NetSCSetClient(const PString* clientName)
{
    gClientName = PRef<PString>::Retain(const_cast<PString*>(clientName));
}

OSStatus NetSCOpen(bool lockThePrefs, bool waitForLock)
{
    NetSCAssert(lockThePrefs || !waitForLock);
    CheckInvariants();
    OSStatus status = kStatusOK;
    if (gPrefsOpenCount == 0) {
        gPrefsRef = SCPreferencesCreate(gClientName ? std::string_view(gClientName->UTF8()) : "NetSCF");
        status = NetSCError(gPrefsRef.get());
    }
    if (status == kStatusOK && lockThePrefs && !gPrefsLocked) {
        status = NetSCErrorBoolean(SCPreferencesLock(gPrefsRef.get(), waitForLock));
        gPrefsLocked = (status == kStatusOK);
    }
    ++gPrefsOpenCount;
    return status;
}

void NetSCClose(OSStatus* err, bool commit)
{
    NetSCAssert(err != nullptr);
    NetSCAssert(gPrefsOpenCount > 0);
    OSStatus none = kStatusOK;
    if (!err) err = &none;
    if (commit) gPrefsDirty = gPrefsDirty || (*err == kStatusOK);
    --gPrefsOpenCount;
    if (gPrefsOpenCount == 0) {
        if (gPrefsDirty) {
            OSStatus s = NetSCErrorBoolean(SCPreferencesCommitChanges(gPrefsRef.get()));
            if (s == kStatusOK) s = NetSCErrorBoolean(SCPreferencesApplyChanges(gPrefsRef.get()));
            if (*err == kStatusOK) *err = s;
            gPrefsDirty = false;
        }
        if (gPrefsLocked) {
            [[maybe_unused]] const bool unlocked = SCPreferencesUnlock(gPrefsRef.get());
            NetSCAssert(unlocked);
            gPrefsLocked = false;
        }
        gPrefsRef.reset();
    }
    CheckInvariants();
}

OSStatus NetSCErrorBoolean(bool success)
{
    if (success) return kStatusOK;
    const OSStatus s = SCError();
    return NetSCToOSStatus(s != kStatusOK ? s : kStoreStatusFailed);
}

OSStatus NetSCToOSStatus(OSStatus storeStatus) { return storeStatus; }

// ---- paths ----

OSStatus CreateSetPathWithSetID(const PString* setID, PRef<PString>& setPath)
{
    NetSCAssert(setID != nullptr);
    NetSCAssert(!setPath);
    setPath.reset();
    if (!setID) return kStatusBadParam;
    return MakeString("/Sets/" + setID->UTF8(), setPath);
}

OSStatus CreateServicePathWithServiceID(const PString* serviceID, PRef<PString>& servicePath)
{
    NetSCAssert(serviceID != nullptr);
    NetSCAssert(!servicePath);
    servicePath.reset();
    if (!serviceID) return kStatusBadParam;
    return MakeString("/NetworkServices/" + serviceID->UTF8(), servicePath);
}

OSStatus CopySeIDFromSePath(const PString* sePath, PRef<PString>& seID)
{
    NetSCAssert(sePath != nullptr);
    NetSCAssert(!seID);
    seID.reset();
    if (!sePath) return kStatusBadParam;
    // Components: "" (before the leading "/"), the parent key, the ID, ...
    const std::string& path = sePath->UTF8();
    size_t start = 0;
    for (int component = 0; component < 2; ++component) {
        const size_t slash = path.find('/', start);
        if (slash == std::string::npos) return kStatusValueNotMade;
        start = slash + 1;
    }
    const size_t end = path.find('/', start);
    const std::string id = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (id.empty()) return kStatusValueNotMade;
    return MakeString(id, seID);
}

OSStatus CopySetPath(const PString* setID, PRef<PString>& setPath)
{
    NetSCAssert(!setPath);
    setPath.reset();
    if (setID) return CreateSetPathWithSetID(setID, setPath);
    NetSCAssert(gPrefsRef);
    auto current = SCPreferencesGetValue(gPrefsRef.get(), "CurrentSet");
    if (const OSStatus s = NetSCError(current)) return s;
    auto path = PRefCast<PString>(current);
    NetSCAssert(path);
    if (!path) return kStatusValueNotMade;
    setPath = std::move(path);
    return kStatusOK;
}

namespace {

OSStatus CopySetSubPath(const PString* setID, const char* suffix, PRef<PString>& path)
{
    NetSCAssert(!path);
    path.reset();
    PRef<PString> setPath;
    if (const OSStatus s = CopySetPath(setID, setPath)) return s;
    return MakeString(setPath->UTF8() + suffix, path);
}

} // namespace

OSStatus CopySetServicesPath(const PString* setID, PRef<PString>& path)
{
    return CopySetSubPath(setID, "/Network/Service", path);
}

OSStatus CopySetGlobalsPath(const PString* setID, PRef<PString>& path)
{
    return CopySetSubPath(setID, "/Network/Global", path);
}

OSStatus CopyResolvedServicePath(const PString* setID, const PString* serviceID, PRef<PString>& path)
{
    NetSCAssert(!path);
    path.reset();
    if (!serviceID) return CopySetGlobalsPath(setID, path);
    PRef<PString> servicesPath;
    if (const OSStatus s = CopySetServicesPath(setID, servicesPath)) return s;
    const std::string linkPath = servicesPath->UTF8() + "/" + serviceID->UTF8();
    auto target = SCPreferencesPathGetLink(gPrefsRef.get(), linkPath);
    if (const OSStatus s = NetSCError(target)) return s;
    path = std::move(target);
    return kStatusOK;
}

OSStatus CopyEntityPath(const PString* setID, const PString* serviceID, const PString* protocol,
                        PRef<PString>& path)
{
    NetSCAssert(protocol != nullptr);
    NetSCAssert(!path);
    path.reset();
    if (!protocol) return kStatusBadParam;
    PRef<PString> servicePath;
    if (const OSStatus s = CopyResolvedServicePath(setID, serviceID, servicePath)) return s;
    return MakeString(servicePath->UTF8() + "/" + protocol->UTF8(), path);
}

OSStatus PreferencesPathSetProperty(const PString* dictPath, const PString* dictKey, const PValue* newValue)
{
    NetSCAssert(dictPath != nullptr);
    NetSCAssert(dictKey != nullptr);
    NetSCAssert(newValue != nullptr);
    if (!dictPath || !dictKey || !newValue) return kStatusBadParam;
    auto dict = SCPreferencesPathGetValue(gPrefsRef.get(), dictPath->UTF8());
    if (const OSStatus s = NetSCError(dict)) return s;
    auto copy = dict->MutableCopy();
    if (!copy || !copy->Set(dictKey->UTF8(), PRef<PValue>::Retain(const_cast<PValue*>(newValue))))
        return kStatusValueNotMade;
    return NetSCErrorBoolean(SCPreferencesPathSetValue(gPrefsRef.get(), dictPath->UTF8(), copy.get()));
}

OSStatus MakeNewSeAndCopyIDAndPath(const PString* parentKey, PRef<PString>& newSeID, PRef<PString>& newSePath)
{
    NetSCAssert(parentKey != nullptr);
    NetSCAssert(!newSeID);
    NetSCAssert(!newSePath);
    newSeID.reset();
    newSePath.reset();
    if (!parentKey) return kStatusBadParam;
    auto path = SCPreferencesPathCreateUniqueChild(gPrefsRef.get(), "/" + parentKey->UTF8());
    if (const OSStatus s = NetSCError(path)) return s;
    PRef<PString> id;
    if (const OSStatus s = CopySeIDFromSePath(path.get(), id)) return s;
    newSeID = std::move(id);
    newSePath = std::move(path);
    return kStatusOK;
}
