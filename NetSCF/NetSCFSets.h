// Network locations ("sets"): listing, names, the current set, finding a set by name.
// Out-parameters must be empty on entry and are empty when the status is not 0.
#pragma once

#include "NetSCF/NetSCFAccess.h"

OSStatus NetSCCopySetsDict(PRef<PDictionary>& setsDict);
// All set IDs in the dictionary's order; with `currentSetIndex`, also the current set's position
// (left as it was when the current set is not among them).
OSStatus NetSCCopySetIDs(PRef<PArray>& setIDs, int32_t* currentSetIndex);
OSStatus NetSCCopyUserVisibleNameOfSet(const PString* setID, PRef<PString>& userVisibleName);
OSStatus NetSCCopyCurrentSet(PRef<PString>& setID);
OSStatus NetSCSetCurrentSet(const PString* setID);
OSStatus NetSCRenameSet(const PString* setID, const PString* newSetUserVisibleName);
// The first set (in dictionary order) named exactly `userVisibleName`; 0 and no ID when none is.
OSStatus NetSCFindSetByUserVisibleNameAndCopyID(const PString* userVisibleName, PRef<PString>& setID);
