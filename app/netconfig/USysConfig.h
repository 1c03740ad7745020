// The application's read-only view of the network preferences: the current location's name,
// the card service's configuration, which services are active, and whether a location (and a
// service on a port in it) exists. Every call opens its own read connection, so it sees the
// store as last committed; nothing is cached and the store's lock is never taken.
// Failures (no store, a missing key, a text that does not convert) answer false or 0.
#pragma once

#include "app/netconfig/SysConfigData.h"
#include "app/prefs/UPasswordCodec.h"
#include "platform/cf/PValue.h"

#include <cstdint>

class USysConfig : public UPasswordCodec {
public:
    USysConfig() = delete;

    // The current location's name into `name` (at least 255 bytes); false leaves it unchanged.
    static bool GetCurrentSetName(char* name);
    // Fills the fields of `data` whose values the card's service has; false when the current
    // location has no service on `bsdName` (the record is then untouched).
    static bool GetCurrentSetting(const PString* bsdName, SysConfigDataRec& data);
    // Active services of the current location.
    static int16_t GetActiveServiceCount();
    // The current location has an active service on `bsdName`.
    static bool ServiceIsActive(const PString* bsdName);
    // A location of that name exists; `setDict`, when given, receives a copy of it.
    static bool FindLocation(const char* locationName, PRef<PDictionary>* setDict = nullptr);
    // The location has a service (active or not) on the port.
    static bool FindDevice(const char* locationName, const char* bsdName);
    // A copy of the current location's service on `bsdName` (the first in service order).
    static bool GetServiceDict(const PString* bsdName, PRef<PDictionary>& serviceDict);

    // The top-level "CurrentSet", "Sets" and "NetworkServices" of a fresh read connection;
    // each may be none. Always 0.
    static int32_t CopyRootKeys(PRef<PString>& currentSet, PRef<PDictionary>& sets, PRef<PDictionary>& services);
    static int32_t CopySetDictionary(PRef<PDictionary>& sets);
    static int32_t CopyNetworkServicesDic(PRef<PDictionary>& services);
};
