#include "NetSCF/NetSCFCreate.h"

#include "NetSCF/NetSCFModemScripts.h"
#include "NetSCF/NetSCFPortScanner.h"
#include "NetSCF/NetSCFServices.h"
#include "NetSCF/NetSCFSets.h"
#include "NetSCF/NetSCFValue.h"

#include <string>
#include <unordered_set>

namespace {

const PString* StringKey(const PDictionary* d, std::string_view key) { return d ? d->GetAs<PString>(key) : nullptr; }

} // namespace

OSStatus AddServiceLinkToDict(const PString* serviceID, PDictionary& servicesDict)
{
    NetSCAssert(serviceID != nullptr);
    if (!serviceID) return kStatusBadParam;
    if (servicesDict.Contains(serviceID->UTF8())) return kStatusOK; // an existing entry stays
    PRef<PString> path;
    OSStatus err = CreateServicePathWithServiceID(serviceID, path);
    PRef<PDictionary> link;
    if (err == kStatusOK) err = CFXDictionaryCreateMutable(link);
    if (err == kStatusOK && !link->Set("__LINK__", path)) err = kStatusValueNotMade;
    if (err == kStatusOK && !servicesDict.Set(serviceID->UTF8(), link)) err = kStatusValueNotMade;
    return err;
}

OSStatus AddServiceToSet(const PString* setID, const PString* serviceID)
{
    PRef<PDictionary> services;
    PRef<PArray> order;
    OSStatus err = NetSCCopyServicesDictMutable(setID, &services, &order);
    if (err == kStatusOK) err = AddServiceLinkToDict(serviceID, *services);
    if (err == kStatusOK && !order->Append(PRef<PString>::Retain(const_cast<PString*>(serviceID))))
        err = kStatusValueNotMade;
    if (err == kStatusOK) err = NetSCSetServicesDict(setID, services.get(), order.get());
    return err;
}

OSStatus AddEntityToService(const PString* setID, const PString* serviceID, const PString* protocol,
                            const NetSCDigest* digest)
{
    PRef<PDictionary> entity;
    OSStatus err = NetSCCreateEntity(protocol, digest, entity);
    if (err == kStatusOK) err = NetSCNewEntity(setID, serviceID, protocol, entity.get());
    return err;
}

OSStatus AddGlobalEntityToSet(const PString* setID, const PString* protocol, const NetSCGlobalDigest* digest)
{
    PRef<PDictionary> entity;
    OSStatus err = NetSCCreateGlobalEntity(protocol, digest, entity);
    if (err == kStatusOK) err = NetSCNewEntity(setID, nullptr, protocol, entity.get());
    return err;
}

OSStatus FindDefaultModemScriptAndCopyName(PRef<PString>& name)
{
    NetSCAssert(name.empty());
    name = nullptr;
    PRef<PArray> scripts;
    long index = 0;
    OSStatus err = NetSCCreateCCLArray(scripts, &index);
    if (err == kStatusOK) {
        if (scripts->Count() == 0) name = PStr("");
        else name = PRefCast<PString>(scripts->RefAt(static_cast<size_t>(index)));
        if (!name) err = kStatusValueNotMade;
    }
    return err;
}

OSStatus DeleteUnreferencedServices()
{
    std::unordered_set<std::string> referenced;
    PRef<PArray> setIDs;
    OSStatus err = NetSCCopySetIDs(setIDs, nullptr);
    if (err == kStatusOK) {
        for (size_t i = 0; i < setIDs->Count() && err == kStatusOK; ++i) {
            PRef<PArray> resolved;
            err = NetSCCopyServiceIDs(setIDs->AtAs<PString>(i), nullptr, &resolved);
            if (err == kStatusOK)
                for (size_t k = 0; k < resolved->Count(); ++k)
                    if (const PString* id = resolved->AtAs<PString>(k)) referenced.insert(id->UTF8());
        }
    }
    if (err != kStatusOK) return err;

    PRef<PValue> value = SCPreferencesGetValue(gPrefsRef.get(), "NetworkServices");
    // A store that has never had a service has nothing to sweep.
    if (!value) return kStatusOK;
    const PDictionary* services = PValue::As<PDictionary>(value.get());
    if (!services) return kStatusValueNotMade;
    PRef<PArray> keys;
    err = CFXArrayCreateWithDictionaryKeys(*services, keys);
    for (size_t i = 0; err == kStatusOK && i < keys->Count(); ++i) {
        const PString* key = keys->AtAs<PString>(i);
        if (!key || referenced.count(key->UTF8())) continue;
        PRef<PString> path;
        err = CreateServicePathWithServiceID(key, path);
        if (err == kStatusOK) err = NetSCErrorBoolean(SCPreferencesPathRemoveValue(gPrefsRef.get(), path->UTF8()));
    }
    return err;
}

OSStatus NetSCNewService(const PString* setID, const PDictionary* portDict, PRef<PString>* newServiceID)
{
    NetSCAssert(portDict != nullptr);
    NetSCAssert(newServiceID == nullptr || newServiceID->empty());
    if (newServiceID) *newServiceID = nullptr;
    if (!portDict) return kStatusBadParam;

    const PString* userDefinedName = StringKey(portDict, "UserDefinedName");
    const PString* hardware = StringKey(portDict, "Hardware");
    const PString* type = StringKey(portDict, "Type");
    const PString* deviceName = StringKey(portDict, "DeviceName");
    const PString* subType = StringKey(portDict, "SubType");
    const PString* macAddress = StringKey(portDict, "MACAddress");
    const PString* hardwareVariant = StringKey(portDict, "HardwareVariant");
    NetSCAssert(userDefinedName && hardware && type && deviceName);
    NetSCAssert((subType != nullptr) == (type && type->UTF8() == "PPP"));
    NetSCAssert((macAddress != nullptr) == (hardware && hardware->UTF8() != "Modem"));
    NetSCAssert(hardwareVariant == nullptr || (hardware && hardware->UTF8() == "Modem"));

    OSStatus err = NetSCOpen(false, false);
    PRef<PString> serviceID, servicePath;
    if (err == kStatusOK) err = MakeNewSeAndCopyIDAndPath(PStr("NetworkServices").get(), serviceID, servicePath);
    if (err == kStatusOK) err = AddServiceToSet(setID, serviceID.get());
    if (err == kStatusOK) err = NetSCRenameService(setID, serviceID.get(), userDefinedName);

    const bool hasMAC = macAddress != nullptr;
    const bool isAirPort = hasMAC && hardware && hardware->UTF8() == "AirPort";
    const PString* sid = serviceID.get();

    if (err == kStatusOK) {
        NetSCDigest d;
        d.interface.deviceName = deviceName;
        d.interface.userDefinedName = userDefinedName;
        d.interface.hardware = hardware;
        d.interface.type = type;
        if (!hasMAC) d.interface.subType = subType;
        d.interface.hardwareVariant = hardwareVariant;
        err = AddEntityToService(setID, sid, PStr("Interface").get(), &d);
    }
    if (err == kStatusOK) {
        NetSCDigest d;
        err = AddEntityToService(setID, sid, PStr("Proxies").get(), &d);
    }
    auto node = PStr("Node");
    if (err == kStatusOK && hasMAC) {
        NetSCDigest d;
        d.appleTalk.configMethod = node.get(); // inactive, without network or node numbers
        err = AddEntityToService(setID, sid, PStr("AppleTalk").get(), &d);
    }
    if (err == kStatusOK) {
        NetSCDigest d;
        err = AddEntityToService(setID, sid, PStr("DNS").get(), &d);
    }
    auto method = PStr(hasMAC ? "DHCP" : "PPP");
    if (err == kStatusOK) {
        NetSCDigest d;
        d.ipv4.configMethod = method.get();
        err = AddEntityToService(setID, sid, PStr("IPv4").get(), &d);
    }
    if (err == kStatusOK) {
        NetSCDigest d;
        d.ppp.active = !hasMAC;
        err = AddEntityToService(setID, sid, PStr("PPP").get(), &d);
    }
    if (err == kStatusOK && hasMAC) {
        NetSCDigest d;
        uint8_t mac[6] = {0};
        err = NetSCFStringToMacAddress(*macAddress, mac);
        if (err == kStatusOK) {
            if (isAirPort) {
                std::copy(mac, mac + 6, d.airPort.macAddress);
                err = AddEntityToService(setID, sid, PStr("AirPort").get(), &d);
            } else {
                std::copy(mac, mac + 6, d.ethernet.macAddress);
                err = AddEntityToService(setID, sid, PStr("Ethernet").get(), &d);
            }
        }
    }
    if (err == kStatusOK && !hasMAC) {
        PRef<PString> script;
        err = FindDefaultModemScriptAndCopyName(script);
        if (err == kStatusOK) {
            NetSCDigest d;
            d.modem = kNetSCModemDigestDefault;
            d.modem.dataCompressionAndErrorCorrection = true;
            d.modem.speaker = true;
            d.modem.waitForDialTone = true;
            d.modem.connectionScript = script.get();
            err = AddEntityToService(setID, sid, PStr("Modem").get(), &d);
        }
    }

    // Take back what was made; the first failure is what the caller hears about.
    if (err != kStatusOK && serviceID) (void)NetSCDeleteService(setID, serviceID.get());

    NetSCClose(&err, true);
    if (err == kStatusOK && newServiceID) *newServiceID = serviceID;
    NetSCAssert((err == kStatusOK) == (newServiceID == nullptr || !newServiceID->empty()));
    return err;
}

OSStatus NetSCDeleteService(const PString* setID, const PString* serviceID)
{
    NetSCAssert(serviceID != nullptr);
    if (!serviceID) return kStatusBadParam;
    OSStatus err = NetSCOpen(false, false);
    PRef<PDictionary> services;
    PRef<PArray> order;
    if (err == kStatusOK) err = NetSCCopyServicesDictMutable(setID, &services, &order);
    if (err == kStatusOK) {
        services->Remove(serviceID->UTF8());
        for (size_t i = 0; i < order->Count(); ++i) {
            const PString* id = order->AtAs<PString>(i);
            if (id && id->UTF8() == serviceID->UTF8()) {
                order->Remove(i);
                break;
            }
        }
        err = NetSCSetServicesDict(setID, services.get(), order.get());
    }
    const OSStatus sweep = DeleteUnreferencedServices();
    if (err == kStatusOK) err = sweep;
    NetSCClose(&err, true);
    return err;
}

OSStatus NetSCDeleteSet(const PString* setID)
{
    NetSCAssert(setID != nullptr);
    if (!setID) return kStatusBadParam;
    OSStatus err = NetSCOpen(false, false);
    if (err == kStatusOK) {
        // A store without a current set (a fresh machine) has no set to protect.
        PRef<PString> current;
        if (NetSCCopyCurrentSet(current) == kStatusOK && current->UTF8() == setID->UTF8()) err = kStatusBadParam;
    }
    if (err == kStatusOK) {
        PRef<PString> path;
        err = CreateSetPathWithSetID(setID, path);
        if (err == kStatusOK) err = NetSCErrorBoolean(SCPreferencesPathRemoveValue(gPrefsRef.get(), path->UTF8()));
    }
    const OSStatus sweep = DeleteUnreferencedServices();
    if (err == kStatusOK) err = sweep;
    NetSCClose(&err, true);
    return err;
}

OSStatus NetSCNewSet(const PString* userVisibleName, PRef<PString>* newSetID)
{
    NetSCAssert(userVisibleName != nullptr);
    NetSCAssert(newSetID == nullptr || newSetID->empty());
    if (newSetID) *newSetID = nullptr;
    if (!userVisibleName) return kStatusBadParam;

    OSStatus err = NetSCOpen(false, false);
    PRef<PString> setID, setPath;
    if (err == kStatusOK) err = MakeNewSeAndCopyIDAndPath(PStr("Sets").get(), setID, setPath);
    if (err == kStatusOK) {
        // The first store creates the intermediate "Network" dictionary.
        PRef<PDictionary> empty;
        PRef<PString> servicesPath, globalsPath;
        err = CFXDictionaryCreateMutable(empty);
        if (err == kStatusOK) err = CopySetServicesPath(setID.get(), servicesPath);
        if (err == kStatusOK)
            err = NetSCErrorBoolean(SCPreferencesPathSetValue(gPrefsRef.get(), servicesPath->UTF8(), empty.get()));
        if (err == kStatusOK) err = CopySetGlobalsPath(setID.get(), globalsPath);
        if (err == kStatusOK)
            err = NetSCErrorBoolean(SCPreferencesPathSetValue(gPrefsRef.get(), globalsPath->UTF8(), empty.get()));
    }
    if (err == kStatusOK) {
        NetSCGlobalDigest global{};
        err = AddGlobalEntityToSet(setID.get(), PStr("IPv4").get(), &global);
        if (err == kStatusOK) err = AddGlobalEntityToSet(setID.get(), PStr("NetInfo").get(), &global);
    }
    PRef<PArray> ports;
    if (err == kStatusOK) err = NetSCCreatePortArray(ports);
    for (size_t i = 0; err == kStatusOK && i < ports->Count(); ++i)
        err = NetSCNewService(setID.get(), ports->AtAs<PDictionary>(i), nullptr);
    if (err == kStatusOK) err = NetSCRenameSet(setID.get(), userVisibleName);

    if (err != kStatusOK && setID) (void)NetSCDeleteSet(setID.get());

    NetSCClose(&err, true);
    if (err == kStatusOK && newSetID) *newSetID = setID;
    return err;
}
