// Entity builders: complete entity dictionaries ("Interface", "PPP", "Modem", ...) made from
// compact records (digests). The builders never touch the store. A digest does not own its
// strings and arrays; the builder takes its own references to what it puts in the entity.
#pragma once

#include "platform/cf/KStatus.h"
#include "platform/cf/PValue.h"

#include <cstdint>
#include <netinet/in.h>

struct NetSCInterfaceDigest {
    const PString* deviceName;      // required
    const PString* hardware;        // required: "Ethernet", "AirPort" or "Modem"
    const PString* hardwareVariant; // only with hardware "Modem"
    const PString* type;            // required: "Ethernet" or "PPP"
    const PString* subType;         // "PPPSerial" or "PPPoE", exactly when type is "PPP"
    const PString* userDefinedName; // required
};

struct NetSCProxiesDigest {
    const PArray* exceptionsList;
    bool ftpPassive;
    bool ftpEnable;
    const PString* ftpProxy;
    uint16_t ftpPort;
    bool gopherEnable;
    const PString* gopherProxy;
    uint16_t gopherPort;
    bool httpEnable;
    const PString* httpProxy;
    uint16_t httpPort;
    bool httpsEnable;
    const PString* httpsProxy;
    uint16_t httpsPort;
    bool rtspEnable;
    const PString* rtspProxy;
    uint16_t rtspPort;
    bool socksEnable;
    const PString* socksProxy;
    uint16_t socksPort;
};

struct NetSCAppleTalkDigest {
    bool active;
    const PString* configMethod; // required: "Node"
    bool nodeAndNetworkValid;
    uint16_t networkID;
    uint8_t nodeID;
    const PString* defaultZone;
};

struct NetSCDNSDigest {
    uint32_t serverAddressCount;
    const in_addr* serverAddresses;   // required when the count is not 0
    uint32_t searchDomainCount;
    const PString* const* searchDomains; // each required; required when the count is not 0
};

struct NetSCIPv4Digest {
    const PString* configMethod; // required: "BOOTP", "DHCP", "INFORM", "Manual" or "PPP"
    in_addr address;             // network byte order; 0: none
    in_addr subnetMask;
    in_addr router;
    const PString* clientID;
};

struct NetSCPPPOptions {
    bool dialOnDemand;
    bool idleReminder;
    int32_t idleReminderTimer;
    bool disconnectOnIdle;
    int32_t disconnectOnIdleTimer;
    bool disconnectOnLogout;
    bool commRedialEnabled;
    int32_t commRedialCount;
    int32_t commRedialInterval;
    bool lcpEchoEnabled;
    bool ipcpCompressionVJ;
    bool commDisplayTerminalWindow;
    bool verboseLogging;
};
extern const NetSCPPPOptions kNetSCPPPOptionsDefault;

struct NetSCPPPDigest {
    bool active;
    const PString* userDefinedName;
    const PString* authName;
    const PString* authPassword; // stored encoded
    const PString* commRemoteAddress;
    const PString* commAlternateRemoteAddress;
    const NetSCPPPOptions* options; // none: kNetSCPPPOptionsDefault
};

struct NetSCModemDigest {
    const PString* connectionScript; // required when building
    bool dataCompressionAndErrorCorrection;
    bool speaker;
    bool pulseDial;
    bool waitForDialTone;
};
extern const NetSCModemDigest kNetSCModemDigestDefault;

struct NetSCEthernetDigest {
    uint8_t macAddress[6];
};

struct NetSCAirPortDigest {
    uint8_t macAddress[6];
    const PString* preferredNetwork;
};

// The global entities ("IPv4", "NetInfo" of a set): present, never read.
struct NetSCGlobalDigest {
    uint32_t unused;
};

// Any one digest; the protocol name passed with it says which. A new one is zero-filled.
union NetSCDigest {
    NetSCDigest();
    NetSCInterfaceDigest interface;
    NetSCProxiesDigest proxies;
    NetSCAppleTalkDigest appleTalk;
    NetSCDNSDigest dns;
    NetSCIPv4Digest ipv4;
    NetSCPPPDigest ppp;
    NetSCAirPortDigest airPort;
    NetSCEthernetDigest ethernet;
    NetSCModemDigest modem;
    NetSCGlobalDigest global;
};

// Builders: `entity` must be empty on entry and receives a new mutable dictionary, or stays empty
// when the status is not 0. -1 for a protocol without a builder.
OSStatus NetSCCreateEntity(const PString* protocol, const NetSCDigest* digest, PRef<PDictionary>& entity);
OSStatus NetSCCreateInterfaceEntity(const NetSCInterfaceDigest* digest, PRef<PDictionary>& entity);
OSStatus NetSCCreateProxiesEntity(const NetSCProxiesDigest* digest, PRef<PDictionary>& entity);
OSStatus NetSCCreateAppleTalkEntity(const NetSCAppleTalkDigest* digest, PRef<PDictionary>& entity);
OSStatus NetSCCreateDNSEntity(const NetSCDNSDigest* digest, PRef<PDictionary>& entity);
OSStatus NetSCCreateIPv4Entity(const NetSCIPv4Digest* digest, PRef<PDictionary>& entity);
OSStatus NetSCCreatePPPEntity(const NetSCPPPDigest* digest, PRef<PDictionary>& entity);
OSStatus NetSCCreateAirPortEntity(const NetSCAirPortDigest* digest, PRef<PDictionary>& entity);
OSStatus NetSCCreateEthernetEntity(const NetSCEthernetDigest* digest, PRef<PDictionary>& entity);
OSStatus NetSCCreateModemEntity(const NetSCModemDigest* digest, PRef<PDictionary>& entity);

OSStatus NetSCCreateGlobalEntity(const PString* protocol, const NetSCGlobalDigest* digest, PRef<PDictionary>& entity);
OSStatus NetSCCreateIPv4GlobalEntity(const NetSCGlobalDigest* digest, PRef<PDictionary>& entity);
OSStatus NetSCCreateNetInfoGlobalEntity(const NetSCGlobalDigest* digest, PRef<PDictionary>& entity);
