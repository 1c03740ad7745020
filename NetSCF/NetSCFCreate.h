// Making and removing whole services and sets: a new location gets one service per port of
// the machine (NetSCCreatePortArray), each with the entities its kind of port needs; deleting
// sweeps away every service no set references any more. A failed creation removes what it made
// inside the same open, so nothing half-made is ever written.
#pragma once

#include "NetSCF/NetSCFAccess.h"
#include "NetSCF/NetSCFEntities.h"

// A new set named `userVisibleName` with one service per port, in port order; not made current.
OSStatus NetSCNewSet(const PString* userVisibleName, PRef<PString>* newSetID);
// Removes the set (-50 for the current set), then sweeps unreferenced services.
OSStatus NetSCDeleteSet(const PString* setID);
// A new service for the port (see the port dictionaries of NetSCCreatePortArray), linked into
// the set at the end of its service order. `setID` none: the current set.
OSStatus NetSCNewService(const PString* setID, const PDictionary* portDict, PRef<PString>* newServiceID);
// Unlinks the service from the set and drops it from the order, then sweeps.
OSStatus NetSCDeleteService(const PString* setID, const PString* serviceID);

// ---- steps (need an open connection) ----
OSStatus AddServiceLinkToDict(const PString* serviceID, PDictionary& servicesDict);
OSStatus AddServiceToSet(const PString* setID, const PString* serviceID);
OSStatus AddEntityToService(const PString* setID, const PString* serviceID, const PString* protocol,
                            const NetSCDigest* digest);
OSStatus AddGlobalEntityToSet(const PString* setID, const PString* protocol, const NetSCGlobalDigest* digest);
// The default modem script's name, or "" when no script is installed.
OSStatus FindDefaultModemScriptAndCopyName(PRef<PString>& name);
OSStatus DeleteUnreferencedServices();
