#include "NetSCF/NetSCFServices.h"

#include "NetSCF/NetSCFValue.h"

#include <string>

namespace {

const char kInactiveKey[] = "__INACTIVE__";

// The global IPv4 dictionary's path: the set's path followed by /Network/Global/IPv4.
OSStatus CopyGlobalIPv4Path(const PString* setID, PRef<PString>& path)
{
    PRef<PString> setPath;
    if (const OSStatus s = CopySetPath(setID, setPath)) return s;
    path = PStr(setPath->UTF8() + "/Network/Global/IPv4");
    return path ? kStatusOK : kStatusValueNotMade;
}

// Checks that the services dictionary and the order name the same IDs, as many in each.
void CheckServicesInStep(const PDictionary* services, const PArray* order)
{
    if (!services || !order) return;
    NetSCAssert(services->Count() == order->Count());
    for (const auto& item : order->Items()) {
        [[maybe_unused]] const auto* id = PValue::As<PString>(item.get());
        NetSCAssert(id && services->Contains(id->UTF8()));
    }
}

} // namespace

OSStatus NetSCCopyServicesDict(const PString* setID, PRef<PDictionary>* servicesDict, PRef<PArray>* serviceOrder)
{
    NetSCAssert(servicesDict || serviceOrder);
    NetSCAssert(!servicesDict || !*servicesDict);
    NetSCAssert(!serviceOrder || !*serviceOrder);
    if (servicesDict) servicesDict->reset();
    if (serviceOrder) serviceOrder->reset();
    OSStatus err = NetSCOpen(false, false);
    PRef<PDictionary> services;
    PRef<PArray> order;
    if (err == kStatusOK && servicesDict) {
        PRef<PString> path;
        err = CopySetServicesPath(setID, path);
        if (err == kStatusOK) {
            services = SCPreferencesPathGetValue(gPrefsRef.get(), path->UTF8());
            err = NetSCError(services);
        }
    }
    if (err == kStatusOK && serviceOrder) {
        PRef<PString> path;
        err = CopyGlobalIPv4Path(setID, path);
        PRef<PDictionary> ipv4;
        if (err == kStatusOK) {
            ipv4 = SCPreferencesPathGetValue(gPrefsRef.get(), path->UTF8());
            err = NetSCError(ipv4);
        }
        if (err == kStatusOK) {
            order = PRefCast<PArray>(ipv4->GetRef("ServiceOrder"));
            if (!order) err = kStatusValueNotMade;
        }
    }
    NetSCClose(&err, false);
    if (err == kStatusOK) {
        CheckServicesInStep(services.get(), order.get());
        if (servicesDict) *servicesDict = std::move(services);
        if (serviceOrder) *serviceOrder = std::move(order);
    }
    return err;
}

OSStatus NetSCCopyServicesDictMutable(const PString* setID, PRef<PDictionary>* servicesDict,
                                      PRef<PArray>* serviceOrder)
{
    NetSCAssert(servicesDict || serviceOrder);
    NetSCAssert(!servicesDict || !*servicesDict);
    NetSCAssert(!serviceOrder || !*serviceOrder);
    if (servicesDict) servicesDict->reset();
    if (serviceOrder) serviceOrder->reset();
    PRef<PDictionary> services;
    PRef<PArray> order;
    // Both are read whatever the caller asked for, so a set without an order fails here too.
    OSStatus err = NetSCCopyServicesDict(setID, &services, &order);
    if (err != kStatusOK) return err;
    PRef<PDictionary> servicesCopy;
    PRef<PArray> orderCopy;
    if (servicesDict) {
        servicesCopy = PRefCast<PDictionary>(services->DeepCopy(true));
        if (!servicesCopy) return kStatusValueNotMade;
    }
    if (serviceOrder) {
        orderCopy = PRefCast<PArray>(order->DeepCopy(true));
        if (!orderCopy) return kStatusValueNotMade;
    }
    if (servicesDict) *servicesDict = std::move(servicesCopy);
    if (serviceOrder) *serviceOrder = std::move(orderCopy);
    return kStatusOK;
}

OSStatus NetSCSetServicesDict(const PString* setID, const PDictionary* servicesDict, const PArray* serviceOrder)
{
    NetSCAssert(servicesDict || serviceOrder);
    NetSCAssert(!servicesDict || !serviceOrder || servicesDict->Count() == serviceOrder->Count());
    OSStatus err = NetSCOpen(false, false);
    if (err == kStatusOK && servicesDict) {
        PRef<PString> path;
        err = CopySetServicesPath(setID, path);
        if (err == kStatusOK)
            err = NetSCErrorBoolean(SCPreferencesPathSetValue(gPrefsRef.get(), path->UTF8(), servicesDict));
    }
    if (err == kStatusOK && serviceOrder) {
        PRef<PString> path;
        err = CopyGlobalIPv4Path(setID, path);
        if (err == kStatusOK) {
            auto key = PStr("ServiceOrder");
            err = PreferencesPathSetProperty(path.get(), key.get(), serviceOrder);
        }
    }
    NetSCClose(&err, true);
    return err;
}

OSStatus NetSCCopyServiceIDs(const PString* setID, PRef<PArray>* localServiceIDs, PRef<PArray>* resolvedServiceIDs)
{
    NetSCAssert(localServiceIDs || resolvedServiceIDs);
    NetSCAssert(!localServiceIDs || !*localServiceIDs);
    NetSCAssert(!resolvedServiceIDs || !*resolvedServiceIDs);
    if (localServiceIDs) localServiceIDs->reset();
    if (resolvedServiceIDs) resolvedServiceIDs->reset();
    OSStatus err = NetSCOpen(false, false);
    PRef<PArray> order, local, resolved;
    if (err == kStatusOK) err = NetSCCopyServicesDict(setID, nullptr, &order);
    if (err == kStatusOK && localServiceIDs) err = CFXArrayCreateMutable(local);
    if (err == kStatusOK && resolvedServiceIDs) err = CFXArrayCreateMutable(resolved);
    for (size_t i = 0; err == kStatusOK && i < order->Count(); ++i) {
        auto id = PRefCast<PString>(order->RefAt(i));
        if (!id) { err = kStatusValueNotMade; break; }
        if (local) local->Append(id);
        if (resolved) {
            PRef<PString> path, resolvedID;
            err = CopyResolvedServicePath(setID, id.get(), path);
            if (err == kStatusOK) err = CopySeIDFromSePath(path.get(), resolvedID);
            if (err == kStatusOK) resolved->Append(resolvedID);
        }
    }
    NetSCClose(&err, false);
    if (err == kStatusOK) {
        if (localServiceIDs) *localServiceIDs = std::move(local);
        if (resolvedServiceIDs) *resolvedServiceIDs = std::move(resolved);
    }
    return err;
}

OSStatus NetSCIsServiceActive(const PString* setID, const PString* serviceID, bool* active)
{
    NetSCAssert(serviceID != nullptr);
    NetSCAssert(active != nullptr);
    if (!serviceID || !active) return kStatusBadParam;
    PRef<PDictionary> entities;
    const OSStatus err = NetSCCopyEntitiesDict(setID, serviceID, entities);
    if (err == kStatusOK) *active = !entities->Contains(kInactiveKey);
    return err;
}

OSStatus SetDictionaryActive(PDictionary* dict, bool active, bool* changed)
{
    NetSCAssert(dict != nullptr);
    if (!dict) return kStatusBadParam;
    const bool current = !dict->Contains(kInactiveKey);
    if (current == active) return kStatusOK;
    if (active) {
        if (!dict->Remove(kInactiveKey)) return kStatusValueNotMade;
    } else {
        auto key = PStr(kInactiveKey);
        if (const OSStatus s = CFXDictionarySetNumber(*dict, *key, 1)) return s;
    }
    if (changed) *changed = true;
    return kStatusOK;
}

OSStatus NetSCSetServiceActive(const PString* setID, const PString* serviceID, bool active)
{
    NetSCAssert(serviceID != nullptr);
    if (!serviceID) return kStatusBadParam;
    bool changed = false;
    OSStatus err = NetSCOpen(false, false);
    PRef<PDictionary> entities;
    if (err == kStatusOK) err = NetSCCopyEntitiesDictMutable(setID, serviceID, entities);
    if (err == kStatusOK) err = SetDictionaryActive(entities.get(), active, &changed);
    if (err == kStatusOK && changed) err = NetSCSetEntitiesDict(setID, serviceID, entities.get());
    NetSCClose(&err, changed);
    return err;
}

OSStatus NetSCCopyBSDNameOfService(const PString* setID, const PString* serviceID, PRef<PString>& bsdName)
{
    NetSCAssert(serviceID != nullptr);
    NetSCAssert(!bsdName);
    bsdName.reset();
    if (!serviceID) return kStatusBadParam;
    OSStatus err = NetSCOpen(false, false);
    PRef<PDictionary> interface;
    if (err == kStatusOK) {
        auto protocol = PStr("Interface");
        err = NetSCCopyEntity(setID, serviceID, protocol.get(), interface);
    }
    if (err == kStatusOK) {
        bsdName = PRefCast<PString>(interface->GetRef("DeviceName"));
        if (!bsdName) err = kStatusValueNotMade;
    }
    NetSCClose(&err, false);
    if (err != kStatusOK) bsdName.reset();
    return err;
}

OSStatus NetSCRenameService(const PString* setID, const PString* serviceID, const PString* newServiceUserVisibleName)
{
    NetSCAssert(serviceID != nullptr);
    NetSCAssert(newServiceUserVisibleName != nullptr);
    if (!serviceID || !newServiceUserVisibleName) return kStatusBadParam;
    OSStatus err = NetSCOpen(false, false);
    PRef<PDictionary> entities;
    if (err == kStatusOK) err = NetSCCopyEntitiesDictMutable(setID, serviceID, entities);
    if (err == kStatusOK && !entities->Set("UserDefinedName", PRef<PString>::Retain(const_cast<PString*>(newServiceUserVisibleName))))
        err = kStatusValueNotMade;
    if (err == kStatusOK) err = NetSCSetEntitiesDict(setID, serviceID, entities.get());
    NetSCClose(&err, true);
    return err;
}

OSStatus NetSCCopyEntitiesDict(const PString* setID, const PString* serviceID, PRef<PDictionary>& entitiesDict)
{
    NetSCAssert(!entitiesDict);
    entitiesDict.reset();
    OSStatus err = NetSCOpen(false, false);
    PRef<PString> path;
    if (err == kStatusOK) err = CopyResolvedServicePath(setID, serviceID, path);
    if (err == kStatusOK) {
        entitiesDict = SCPreferencesPathGetValue(gPrefsRef.get(), path->UTF8());
        err = NetSCError(entitiesDict);
    }
    NetSCClose(&err, false);
    if (err != kStatusOK) entitiesDict.reset();
    return err;
}

OSStatus NetSCCopyEntitiesDictMutable(const PString* setID, const PString* serviceID, PRef<PDictionary>& entitiesDict)
{
    NetSCAssert(!entitiesDict);
    entitiesDict.reset();
    PRef<PDictionary> dict;
    const OSStatus err = NetSCCopyEntitiesDict(setID, serviceID, dict);
    if (err != kStatusOK) return err;
    entitiesDict = PRefCast<PDictionary>(dict->DeepCopy(true));
    return entitiesDict ? kStatusOK : kStatusValueNotMade;
}

OSStatus NetSCSetEntitiesDict(const PString* setID, const PString* serviceID, const PDictionary* entitiesDict)
{
    NetSCAssert(entitiesDict != nullptr);
    if (!entitiesDict) return kStatusBadParam;
    OSStatus err = NetSCOpen(false, false);
    PRef<PString> path;
    if (err == kStatusOK) err = CopyResolvedServicePath(setID, serviceID, path);
    if (err == kStatusOK)
        err = NetSCErrorBoolean(SCPreferencesPathSetValue(gPrefsRef.get(), path->UTF8(), entitiesDict));
    NetSCClose(&err, true);
    return err;
}

OSStatus NetSCCopyEntity(const PString* setID, const PString* serviceID, const PString* protocol,
                         PRef<PDictionary>& entity)
{
    NetSCAssert(protocol != nullptr);
    NetSCAssert(!entity);
    entity.reset();
    if (!protocol) return kStatusBadParam;
    OSStatus err = NetSCOpen(false, false);
    PRef<PString> path;
    if (err == kStatusOK) err = CopyEntityPath(setID, serviceID, protocol, path);
    if (err == kStatusOK) {
        entity = SCPreferencesPathGetValue(gPrefsRef.get(), path->UTF8());
        err = NetSCError(entity);
    }
    NetSCClose(&err, false);
    if (err != kStatusOK) entity.reset();
    return err;
}

OSStatus NetSCCopyEntityMutable(const PString* setID, const PString* serviceID, const PString* protocol,
                                PRef<PDictionary>& entity)
{
    NetSCAssert(!entity);
    entity.reset();
    PRef<PDictionary> dict;
    const OSStatus err = NetSCCopyEntity(setID, serviceID, protocol, dict);
    if (err != kStatusOK) return err;
    entity = PRefCast<PDictionary>(dict->DeepCopy(true));
    return entity ? kStatusOK : kStatusValueNotMade;
}

OSStatus NetSCSetEntity(const PString* setID, const PString* serviceID, const PString* protocol,
                        const PDictionary* entity)
{
    NetSCAssert(protocol != nullptr);
    NetSCAssert(entity != nullptr);
    if (!protocol || !entity) return kStatusBadParam;
    OSStatus err = NetSCOpen(false, false);
    PRef<PString> path;
    if (err == kStatusOK) err = CopyEntityPath(setID, serviceID, protocol, path);
    if (err == kStatusOK) err = NetSCErrorBoolean(SCPreferencesPathSetValue(gPrefsRef.get(), path->UTF8(), entity));
    NetSCClose(&err, true);
    return err;
}

OSStatus NetSCNewEntity(const PString* setID, const PString* serviceID, const PString* protocol,
                        const PDictionary* entity)
{
    NetSCAssert(protocol != nullptr);
    NetSCAssert(entity != nullptr);
    if (!protocol || !entity) return kStatusBadParam;
    OSStatus err = NetSCOpen(false, false);
    PRef<PDictionary> entities;
    if (err == kStatusOK) err = NetSCCopyEntitiesDictMutable(setID, serviceID, entities);
    if (err == kStatusOK && entities->Contains(protocol->UTF8())) err = kStatusBadParam;
    if (err == kStatusOK && !entities->Set(protocol->UTF8(), PRef<PDictionary>::Retain(const_cast<PDictionary*>(entity))))
        err = kStatusValueNotMade;
    if (err == kStatusOK) err = NetSCSetEntitiesDict(setID, serviceID, entities.get());
    NetSCClose(&err, true);
    return err;
}
