#include "NetSCF/NetSCFEntities.h"

#include "NetSCF/NetSCFAccess.h"
#include "NetSCF/NetSCFValue.h"

#include <cstring>
#include <string_view>

const NetSCPPPOptions kNetSCPPPOptionsDefault = {
    /* dialOnDemand */ false,
    /* idleReminder */ false,
    /* idleReminderTimer */ 1800,
    /* disconnectOnIdle */ true,
    /* disconnectOnIdleTimer */ 900,
    /* disconnectOnLogout */ true,
    /* commRedialEnabled */ true,
    /* commRedialCount */ 1,
    /* commRedialInterval */ 30,
    /* lcpEchoEnabled */ true,
    /* ipcpCompressionVJ */ true,
    /* commDisplayTerminalWindow */ false,
    /* verboseLogging */ false,
};

const NetSCModemDigest kNetSCModemDigestDefault = {
    /* connectionScript */ nullptr,
    /* dataCompressionAndErrorCorrection */ true,
    /* speaker */ true,
    /* pulseDial */ false,
    /* waitForDialTone */ true,
};

NetSCDigest::NetSCDigest() { std::memset(static_cast<void*>(this), 0, sizeof *this); }

namespace {

bool Is(const PString* s, std::string_view text) { return s && s->UTF8() == text; }

// Builds an entity step by step; the first failing step ends it and keeps its status.
class EntityBuilder {
public:
    EntityBuilder() { mStatus = CFXDictionaryCreateMutable(mDict); }

    void Number(std::string_view key, int32_t value)
    {
        if (mStatus != kStatusOK) return;
        auto k = PStr(key);
        mStatus = k ? CFXDictionarySetNumber(*mDict, *k, value) : kStatusValueNotMade;
    }
    void Value(std::string_view key, const PValue* value)
    {
        if (mStatus != kStatusOK) return;
        if (!value || !mDict->Set(key, PRef<PValue>::Retain(const_cast<PValue*>(value)))) mStatus = kStatusValueNotMade;
    }
    void Text(std::string_view key, std::string_view text)
    {
        if (mStatus != kStatusOK) return;
        auto s = PStr(text);
        Value(key, s.get());
    }
    void ValueIfGiven(std::string_view key, const PValue* value)
    {
        if (value) Value(key, value);
    }
    void Fail(OSStatus status)
    {
        if (mStatus == kStatusOK) mStatus = status;
    }
    bool Ok() const { return mStatus == kStatusOK; }

    OSStatus Finish(PRef<PDictionary>& entity)
    {
        NetSCAssert(!entity);
        entity.reset();
        if (mStatus == kStatusOK) entity = std::move(mDict);
        mDict.reset();
        return mStatus;
    }

private:
    PRef<PDictionary> mDict;
    OSStatus mStatus;
};

void AddInetAddress(EntityBuilder& b, std::string_view key, in_addr address, bool asArray)
{
    if (address.s_addr == 0 || !b.Ok()) return;
    PRef<PString> text;
    if (const OSStatus s = NetSCFCreateStringWithInetAddress(address, text)) return b.Fail(s);
    if (!asArray) return b.Value(key, text.get());
    auto array = PArray::Create({text});
    if (!array) return b.Fail(kStatusValueNotMade);
    b.Value(key, array.get());
}

void AddProxy(EntityBuilder& b, std::string_view kind, bool enable, const PString* proxy, uint16_t port)
{
    const std::string k(kind);
    b.Number(k + "Enable", enable ? 1 : 0);
    b.ValueIfGiven(k + "Proxy", proxy);
    if (port != 0) b.Number(k + "Port", port);
}

void AddMacAddress(EntityBuilder& b, const uint8_t mac[6])
{
    if (!b.Ok()) return;
    PRef<PString> text;
    if (const OSStatus s = NetSCFCreateStringWithMacAddress(mac, text)) return b.Fail(s);
    b.Value("MACAddress", text.get());
}

} // namespace

OSStatus NetSCCreateInterfaceEntity(const NetSCInterfaceDigest* d, PRef<PDictionary>& entity)
{
    NetSCAssert(d != nullptr);
    if (!d) return kStatusBadParam;
    NetSCAssert(d->deviceName && d->hardware && d->type && d->userDefinedName);
    NetSCAssert(Is(d->hardware, "Ethernet") || Is(d->hardware, "AirPort") || Is(d->hardware, "Modem"));
    NetSCAssert(Is(d->type, "Ethernet") || Is(d->type, "PPP"));
    NetSCAssert((d->subType != nullptr) == Is(d->type, "PPP"));
    NetSCAssert(!d->subType || Is(d->subType, "PPPSerial") || Is(d->subType, "PPPoE"));
    NetSCAssert(!d->hardwareVariant || Is(d->hardware, "Modem"));
    EntityBuilder b;
    b.Value("DeviceName", d->deviceName);
    b.Value("UserDefinedName", d->userDefinedName);
    b.Value("Hardware", d->hardware);
    b.Value("Type", d->type);
    b.ValueIfGiven("SubType", d->subType);
    b.ValueIfGiven("HardwareVariant", d->hardwareVariant);
    return b.Finish(entity);
}

OSStatus NetSCCreateProxiesEntity(const NetSCProxiesDigest* d, PRef<PDictionary>& entity)
{
    NetSCAssert(d != nullptr);
    if (!d) return kStatusBadParam;
    EntityBuilder b;
    b.ValueIfGiven("ExceptionsList", d->exceptionsList);
    b.Number("FTPPassive", d->ftpPassive ? 1 : 0);
    AddProxy(b, "FTP", d->ftpEnable, d->ftpProxy, d->ftpPort);
    AddProxy(b, "Gopher", d->gopherEnable, d->gopherProxy, d->gopherPort);
    AddProxy(b, "HTTP", d->httpEnable, d->httpProxy, d->httpPort);
    AddProxy(b, "HTTPS", d->httpsEnable, d->httpsProxy, d->httpsPort);
    AddProxy(b, "RTSP", d->rtspEnable, d->rtspProxy, d->rtspPort);
    AddProxy(b, "SOCKS", d->socksEnable, d->socksProxy, d->socksPort);
    return b.Finish(entity);
}

OSStatus NetSCCreateAppleTalkEntity(const NetSCAppleTalkDigest* d, PRef<PDictionary>& entity)
{
    NetSCAssert(d != nullptr);
    if (!d) return kStatusBadParam;
    NetSCAssert(Is(d->configMethod, "Node"));
    EntityBuilder b;
    b.Value("ConfigMethod", d->configMethod);
    b.ValueIfGiven("DefaultZone", d->defaultZone);
    if (d->nodeAndNetworkValid) {
        b.Number("NetworkID", d->networkID);
        b.Number("NodeID", d->nodeID);
    }
    if (!d->active) b.Number("__INACTIVE__", 1);
    return b.Finish(entity);
}

OSStatus NetSCCreateDNSEntity(const NetSCDNSDigest* d, PRef<PDictionary>& entity)
{
    NetSCAssert(d != nullptr);
    if (!d) return kStatusBadParam;
    NetSCAssert(d->serverAddressCount == 0 || d->serverAddresses != nullptr);
    NetSCAssert(d->searchDomainCount == 0 || d->searchDomains != nullptr);
    EntityBuilder b;
    if (d->serverAddressCount != 0) {
        PRef<PArray> servers;
        const OSStatus s = NetSCFCreateArrayWithInetAddresses(d->serverAddressCount, d->serverAddresses, servers);
        if (s != kStatusOK) b.Fail(s);
        else b.Value("ServerAddresses", servers.get());
    }
    if (d->searchDomainCount != 0 && b.Ok()) {
        PRef<PArray> domains;
        if (const OSStatus s = CFXArrayCreateMutable(domains)) b.Fail(s);
        for (uint32_t i = 0; b.Ok() && i < d->searchDomainCount; ++i) {
            const PString* domain = d->searchDomains ? d->searchDomains[i] : nullptr;
            NetSCAssert(domain != nullptr);
            if (!domain || !domains->Append(PRef<PString>::Retain(const_cast<PString*>(domain))))
                b.Fail(kStatusValueNotMade);
        }
        b.Value("SearchDomains", domains.get());
    }
    return b.Finish(entity);
}

OSStatus NetSCCreateIPv4Entity(const NetSCIPv4Digest* d, PRef<PDictionary>& entity)
{
    NetSCAssert(d != nullptr);
    if (!d) return kStatusBadParam;
    [[maybe_unused]] const bool addr = d->address.s_addr != 0, mask = d->subnetMask.s_addr != 0,
                                router = d->router.s_addr != 0;
    if (Is(d->configMethod, "BOOTP") || Is(d->configMethod, "PPP")) {
        NetSCAssert(!addr && !mask && !router && !d->clientID);
    } else if (Is(d->configMethod, "DHCP")) {
        NetSCAssert(!addr && !mask && !router);
    } else if (Is(d->configMethod, "INFORM")) {
        NetSCAssert(addr && !mask && !router && !d->clientID);
    } else if (Is(d->configMethod, "Manual")) {
        NetSCAssert(addr && mask && router && !d->clientID);
    } else {
        NetSCAssert(!"IPv4 configMethod is one of BOOTP, DHCP, INFORM, Manual, PPP");
    }
    EntityBuilder b;
    b.Value("ConfigMethod", d->configMethod);
    b.ValueIfGiven("DHCPClientID", d->clientID);
    AddInetAddress(b, "Addresses", d->address, true);
    AddInetAddress(b, "SubnetMasks", d->subnetMask, true);
    AddInetAddress(b, "Router", d->router, false);
    return b.Finish(entity);
}

OSStatus NetSCCreatePPPEntity(const NetSCPPPDigest* d, PRef<PDictionary>& entity)
{
    NetSCAssert(d != nullptr);
    if (!d) return kStatusBadParam;
    const NetSCPPPOptions& o = d->options ? *d->options : kNetSCPPPOptionsDefault;
    EntityBuilder b;
    b.ValueIfGiven("UserDefinedName", d->userDefinedName);
    if (!d->active) b.Number("__INACTIVE__", 1);
    b.Number("DialOnDemand", o.dialOnDemand);
    b.Number("DisconnectOnIdle", o.disconnectOnIdle);
    b.Number("DisconnectOnIdleTimer", o.disconnectOnIdleTimer);
    b.Number("DisconnectOnLogout", o.disconnectOnLogout);
    b.Number("IdleReminder", o.idleReminder);
    b.Number("IdleReminderTimer", o.idleReminderTimer);
    b.Text("Logfile", "/tmp/ppp.log");
    b.Number("VerboseLogging", o.verboseLogging);
    b.ValueIfGiven("AuthName", d->authName);
    if (d->authPassword && b.Ok()) {
        PRef<PData> encoded;
        if (const OSStatus s = NetSCFCopyEncodedPPPPassword(*d->authPassword, encoded)) b.Fail(s);
        else b.Value("AuthPassword", encoded.get());
    }
    b.ValueIfGiven("CommAlternateRemoteAddress", d->commAlternateRemoteAddress);
    b.Number("CommDisplayTerminalWindow", o.commDisplayTerminalWindow);
    b.Number("CommRedialCount", o.commRedialCount);
    b.Number("CommRedialEnabled", o.commRedialEnabled);
    b.Number("CommRedialInterval", o.commRedialInterval);
    b.ValueIfGiven("CommRemoteAddress", d->commRemoteAddress);
    b.Number("IPCPCompressionVJ", o.ipcpCompressionVJ);
    b.Number("LCPEchoEnabled", o.lcpEchoEnabled);
    b.Number("LCPEchoFailure", 3);
    b.Number("LCPEchoInterval", 10);
    return b.Finish(entity);
}

OSStatus NetSCCreateAirPortEntity(const NetSCAirPortDigest* d, PRef<PDictionary>& entity)
{
    NetSCAssert(d != nullptr);
    if (!d) return kStatusBadParam;
    EntityBuilder b;
    AddMacAddress(b, d->macAddress);
    b.ValueIfGiven("PreferredNetwork", d->preferredNetwork);
    return b.Finish(entity);
}

OSStatus NetSCCreateEthernetEntity(const NetSCEthernetDigest* d, PRef<PDictionary>& entity)
{
    NetSCAssert(d != nullptr);
    if (!d) return kStatusBadParam;
    EntityBuilder b;
    AddMacAddress(b, d->macAddress);
    return b.Finish(entity);
}

OSStatus NetSCCreateModemEntity(const NetSCModemDigest* d, PRef<PDictionary>& entity)
{
    NetSCAssert(d != nullptr);
    if (!d) return kStatusBadParam;
    NetSCAssert(d->connectionScript != nullptr);
    EntityBuilder b;
    b.Value("ConnectionScript", d->connectionScript);
    b.Number("DataCompression", d->dataCompressionAndErrorCorrection);
    b.Text("DialMode", d->waitForDialTone ? "WaitForDialTone" : "IgnoreDialTone");
    b.Number("ErrorCorrection", d->dataCompressionAndErrorCorrection);
    b.Number("PulseDial", d->pulseDial);
    b.Number("Speaker", d->speaker);
    return b.Finish(entity);
}

OSStatus NetSCCreateEntity(const PString* protocol, const NetSCDigest* digest, PRef<PDictionary>& entity)
{
    NetSCAssert(protocol != nullptr);
    NetSCAssert(digest != nullptr);
    NetSCAssert(!entity);
    entity.reset();
    if (!protocol || !digest) return kStatusBadParam;
    if (Is(protocol, "Interface")) return NetSCCreateInterfaceEntity(&digest->interface, entity);
    if (Is(protocol, "Proxies")) return NetSCCreateProxiesEntity(&digest->proxies, entity);
    if (Is(protocol, "AppleTalk")) return NetSCCreateAppleTalkEntity(&digest->appleTalk, entity);
    if (Is(protocol, "DNS")) return NetSCCreateDNSEntity(&digest->dns, entity);
    if (Is(protocol, "IPv4")) return NetSCCreateIPv4Entity(&digest->ipv4, entity);
    if (Is(protocol, "PPP")) return NetSCCreatePPPEntity(&digest->ppp, entity);
    if (Is(protocol, "AirPort")) return NetSCCreateAirPortEntity(&digest->airPort, entity);
    if (Is(protocol, "Ethernet")) return NetSCCreateEthernetEntity(&digest->ethernet, entity);
    if (Is(protocol, "Modem")) return NetSCCreateModemEntity(&digest->modem, entity);
    NetSCAssert(!"NetSCCreateEntity: a protocol with a builder");
    return -1;
}

OSStatus NetSCCreateIPv4GlobalEntity(const NetSCGlobalDigest* d, PRef<PDictionary>& entity)
{
    NetSCAssert(d != nullptr);
    if (!d) return kStatusBadParam;
    EntityBuilder b;
    b.Number("PPPOverridePrimary", 0);
    if (b.Ok()) {
        PRef<PArray> order;
        if (const OSStatus s = CFXArrayCreateMutable(order)) b.Fail(s);
        else b.Value("ServiceOrder", order.get());
    }
    return b.Finish(entity);
}

OSStatus NetSCCreateNetInfoGlobalEntity(const NetSCGlobalDigest* d, PRef<PDictionary>& entity)
{
    NetSCAssert(d != nullptr);
    if (!d) return kStatusBadParam;
    EntityBuilder b;
    return b.Finish(entity);
}

OSStatus NetSCCreateGlobalEntity(const PString* protocol, const NetSCGlobalDigest* digest, PRef<PDictionary>& entity)
{
    NetSCAssert(protocol != nullptr);
    NetSCAssert(digest != nullptr);
    NetSCAssert(!entity);
    entity.reset();
    if (!protocol || !digest) return kStatusBadParam;
    if (Is(protocol, "IPv4")) return NetSCCreateIPv4GlobalEntity(digest, entity);
    if (Is(protocol, "NetInfo")) return NetSCCreateNetInfoGlobalEntity(digest, entity);
    NetSCAssert(!"NetSCCreateGlobalEntity: IPv4 or NetInfo");
    return -1;
}
