#include "NetSCF/NetSCFSets.h"

#include "NetSCF/NetSCFValue.h"

OSStatus NetSCCopySetsDict(PRef<PDictionary>& setsDict)
{
    NetSCAssert(!setsDict);
    setsDict.reset();
    OSStatus err = NetSCOpen(false, false);
    if (err == kStatusOK) {
        auto sets = SCPreferencesGetValue(gPrefsRef.get(), "Sets");
        err = NetSCError(sets);
        if (err == kStatusOK) {
            setsDict = PRefCast<PDictionary>(sets);
            NetSCAssert(setsDict);
            if (!setsDict) err = kStatusValueNotMade;
        }
    }
    NetSCClose(&err, false);
    if (err != kStatusOK) setsDict.reset();
    return err;
}

OSStatus NetSCCopySetIDs(PRef<PArray>& setIDs, int32_t* currentSetIndex)
{
    NetSCAssert(!setIDs);
    setIDs.reset();
    OSStatus err = NetSCOpen(false, false);
    PRef<PDictionary> sets;
    if (err == kStatusOK) err = NetSCCopySetsDict(sets);
    if (err == kStatusOK) err = CFXArrayCreateWithDictionaryKeys(*sets, setIDs);
    if (err == kStatusOK && currentSetIndex) {
        PRef<PString> current;
        err = NetSCCopyCurrentSet(current);
        if (err == kStatusOK) {
            for (size_t i = 0; i < setIDs->Count(); ++i) {
                const PValue* id = setIDs->At(i);
                if (id && id->Equals(*current)) *currentSetIndex = static_cast<int32_t>(i);
            }
        }
    }
    NetSCClose(&err, false);
    if (err != kStatusOK) setIDs.reset();
    return err;
}

OSStatus NetSCCopyUserVisibleNameOfSet(const PString* setID, PRef<PString>& userVisibleName)
{
    NetSCAssert(setID != nullptr);
    NetSCAssert(!userVisibleName);
    userVisibleName.reset();
    if (!setID) return kStatusBadParam;
    OSStatus err = NetSCOpen(false, false);
    PRef<PString> setPath;
    if (err == kStatusOK) err = CopySetPath(setID, setPath);
    if (err == kStatusOK) {
        auto set = SCPreferencesPathGetValue(gPrefsRef.get(), setPath->UTF8());
        err = NetSCError(set);
        if (err == kStatusOK) {
            userVisibleName = PRefCast<PString>(set->GetRef("UserDefinedName"));
            if (!userVisibleName) err = kStatusValueNotMade;
        }
    }
    NetSCClose(&err, false);
    if (err != kStatusOK) userVisibleName.reset();
    return err;
}

OSStatus NetSCCopyCurrentSet(PRef<PString>& setID)
{
    NetSCAssert(!setID);
    setID.reset();
    OSStatus err = NetSCOpen(false, false);
    if (err == kStatusOK) {
        auto current = SCPreferencesGetValue(gPrefsRef.get(), "CurrentSet");
        err = NetSCError(current);
        if (err == kStatusOK) {
            auto path = PRefCast<PString>(current);
            NetSCAssert(path);
            err = path ? CopySeIDFromSePath(path.get(), setID) : kStatusValueNotMade;
        }
    }
    NetSCClose(&err, false);
    if (err != kStatusOK) setID.reset();
    return err;
}

OSStatus NetSCSetCurrentSet(const PString* setID)
{
    NetSCAssert(setID != nullptr);
    if (!setID) return kStatusBadParam;
    OSStatus err = NetSCOpen(false, false);
    PRef<PString> setPath;
    if (err == kStatusOK) err = CreateSetPathWithSetID(setID, setPath);
    if (err == kStatusOK) err = NetSCErrorBoolean(SCPreferencesSetValue(gPrefsRef.get(), "CurrentSet", setPath.get()));
    NetSCClose(&err, true);
    return err;
}

OSStatus NetSCRenameSet(const PString* setID, const PString* newSetUserVisibleName)
{
    NetSCAssert(setID != nullptr);
    NetSCAssert(newSetUserVisibleName != nullptr);
    if (!setID || !newSetUserVisibleName) return kStatusBadParam;
    OSStatus err = NetSCOpen(false, false);
    PRef<PString> setPath;
    if (err == kStatusOK) err = CopySetPath(setID, setPath);
    if (err == kStatusOK) {
        auto key = PStr("UserDefinedName");
        err = PreferencesPathSetProperty(setPath.get(), key.get(), newSetUserVisibleName);
    }
    NetSCClose(&err, true);
    return err;
}

OSStatus NetSCFindSetByUserVisibleNameAndCopyID(const PString* userVisibleName, PRef<PString>& setID)
{
    NetSCAssert(userVisibleName != nullptr);
    NetSCAssert(!setID);
    setID.reset();
    if (!userVisibleName) return kStatusBadParam;
    PRef<PArray> ids;
    OSStatus err = NetSCCopySetIDs(ids, nullptr);
    for (size_t i = 0; err == kStatusOK && i < ids->Count(); ++i) {
        auto id = PRefCast<PString>(ids->RefAt(i));
        if (!id) { err = kStatusValueNotMade; break; }
        PRef<PString> name;
        err = NetSCCopyUserVisibleNameOfSet(id.get(), name);
        if (err == kStatusOK && name->UTF8() == userVisibleName->UTF8()) {
            setID = std::move(id);
            break;
        }
    }
    if (err != kStatusOK) setID.reset();
    return err;
}
