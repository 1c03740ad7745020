// The services of a set and the entities of a service. `setID` none means the current set;
// `serviceID` is a service's local ID in the set (none, where allowed: the set's global
// entities). Out-parameters must be empty on entry and are empty when the status is not 0;
// "out or none" ones may be nullptr.
#pragma once

#include "NetSCF/NetSCFAccess.h"

OSStatus NetSCCopyServicesDict(const PString* setID, PRef<PDictionary>* servicesDict, PRef<PArray>* serviceOrder);
OSStatus NetSCCopyServicesDictMutable(const PString* setID, PRef<PDictionary>* servicesDict,
                                      PRef<PArray>* serviceOrder);
OSStatus NetSCSetServicesDict(const PString* setID, const PDictionary* servicesDict, const PArray* serviceOrder);
// Service IDs in service order: the local ones and/or those at the end of each link.
OSStatus NetSCCopyServiceIDs(const PString* setID, PRef<PArray>* localServiceIDs, PRef<PArray>* resolvedServiceIDs);

OSStatus NetSCIsServiceActive(const PString* setID, const PString* serviceID, bool* active);
// Writes and commits only when the state changes.
OSStatus NetSCSetServiceActive(const PString* setID, const PString* serviceID, bool active);
OSStatus NetSCCopyBSDNameOfService(const PString* setID, const PString* serviceID, PRef<PString>& bsdName);
OSStatus NetSCRenameService(const PString* setID, const PString* serviceID, const PString* newServiceUserVisibleName);

OSStatus NetSCCopyEntitiesDict(const PString* setID, const PString* serviceID, PRef<PDictionary>& entitiesDict);
OSStatus NetSCCopyEntitiesDictMutable(const PString* setID, const PString* serviceID, PRef<PDictionary>& entitiesDict);
OSStatus NetSCSetEntitiesDict(const PString* setID, const PString* serviceID, const PDictionary* entitiesDict);

OSStatus NetSCCopyEntity(const PString* setID, const PString* serviceID, const PString* protocol,
                         PRef<PDictionary>& entity);
OSStatus NetSCCopyEntityMutable(const PString* setID, const PString* serviceID, const PString* protocol,
                                PRef<PDictionary>& entity);
// Stores the entity under the protocol name, replacing one that is there.
OSStatus NetSCSetEntity(const PString* setID, const PString* serviceID, const PString* protocol,
                        const PDictionary* entity);
// Adds the entity; -50 when the service already has that protocol.
OSStatus NetSCNewEntity(const PString* setID, const PString* serviceID, const PString* protocol,
                        const PDictionary* entity);

// Marks (active false) or unmarks a dictionary with "__INACTIVE__" = 1; sets *changed (when given)
// to true only when it changed something.
OSStatus SetDictionaryActive(PDictionary* dict, bool active, bool* changed);
