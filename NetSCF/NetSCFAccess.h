// The shared connection to the network preferences store and the paths inside it.
//
// One process-wide connection, opened and closed in nested pairs: NetSCOpen joins the connection
// when it is already open; the outermost NetSCClose commits and applies when any close asked to
// commit with a success status, unlocks and releases it. Every public operation of the library
// wraps its work in NetSCOpen(false, false) / NetSCClose, so it runs alone or inside a caller's
// transaction. Single-threaded: the state below is unprotected.
//
// Store layout:
//   /CurrentSet                              string "/Sets/{setID}"
//   /Sets/{setID}                            the set; "UserDefinedName"
//   /Sets/{setID}/Network/Global/IPv4        "ServiceOrder": local service IDs in priority order
//   /Sets/{setID}/Network/Service/{id}       link: { "__LINK__" = "/NetworkServices/{serviceID}" }
//   /NetworkServices/{serviceID}             the entities dictionary: "UserDefinedName",
//                                            "__INACTIVE__" (1 while inactive), one entity per protocol
#pragma once

#include "platform/cf/KStatus.h"
#include "platform/cf/PValue.h"
#include "platform/store/SCPreferences.h"

// Invariant checks: in debug builds a failed condition writes "NetSCAssert failure: <condition>"
// to standard error; execution continues.
#ifndef NDEBUG
#define NetSCAssert(cond) ((cond) ? (void)0 : NetSCAssertFailed(#cond, __FILE__, __LINE__))
#else
#define NetSCAssert(cond) ((void)0)
#endif
void NetSCAssertFailed(const char* condition, const char* file, int line);

// Connection state (one connection per process).
extern PRef<PString> gClientName;  // the name new connections use; none: "NetSCF"
extern SCPreferencesRef gPrefsRef; // the open connection
extern int32_t gPrefsOpenCount;    // NetSCOpen calls not yet matched by NetSCClose
extern bool gPrefsLocked;          // the connection holds the store's lock
extern bool gPrefsDirty;           // the outermost close must commit and apply

// Keeps `clientName` (or none) for the next connection; call it before the first NetSCOpen.
void NetSCSetClient(const PString* clientName);

// Opens or joins the connection; with `lockThePrefs`, takes the lock if not yet held (waiting
// for it when `waitForLock`). Counts even when it fails: match every call with one NetSCClose.
OSStatus NetSCOpen(bool lockThePrefs, bool waitForLock);

// Leaves one level. `commit` with *err == 0 marks the connection dirty; the outermost close
// commits and, after a successful commit, applies; their status replaces *err only when *err is 0.
void NetSCClose(OSStatus* err, bool commit);

// 0 when `success`; otherwise the store's last status (1001 when it recorded none).
OSStatus NetSCErrorBoolean(bool success);
// NetSCErrorBoolean(value is present).
template <class T>
OSStatus NetSCError(const PRef<T>& value) { return NetSCErrorBoolean(static_cast<bool>(value)); }
inline OSStatus NetSCError(const void* value) { return NetSCErrorBoolean(value != nullptr); }
// Store status codes pass through unchanged.
OSStatus NetSCToOSStatus(OSStatus storeStatus);

// ---- paths (internal to the library; all but the first two need an open connection) ----
// Each hands its string out through an out-parameter that must be empty on entry and is empty
// whenever the status is not 0. A set ID of none means the current set; a service ID of none
// means the set's global entities.

OSStatus CreateSetPathWithSetID(const PString* setID, PRef<PString>& setPath);
OSStatus CreateServicePathWithServiceID(const PString* serviceID, PRef<PString>& servicePath);
// The third "/"-separated component ("12" from "/NetworkServices/12"); -4960 when there is none.
OSStatus CopySeIDFromSePath(const PString* sePath, PRef<PString>& seID);
OSStatus CopySetPath(const PString* setID, PRef<PString>& setPath);
OSStatus CopySetServicesPath(const PString* setID, PRef<PString>& path);
OSStatus CopySetGlobalsPath(const PString* setID, PRef<PString>& path);
// The target of the set's link for `serviceID`; without a service ID, the set's globals path.
OSStatus CopyResolvedServicePath(const PString* setID, const PString* serviceID, PRef<PString>& path);
OSStatus CopyEntityPath(const PString* setID, const PString* serviceID, const PString* protocol,
                        PRef<PString>& path);
// Replaces one key of the existing dictionary at `dictPath`, keeping its other keys.
OSStatus PreferencesPathSetProperty(const PString* dictPath, const PString* dictKey, const PValue* newValue);
// A new empty dictionary under "/" + parentKey ("Sets" or "NetworkServices"): its ID and path.
OSStatus MakeNewSeAndCopyIDAndPath(const PString* parentKey, PRef<PString>& newSeID, PRef<PString>& newSePath);
