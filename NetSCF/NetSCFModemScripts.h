// The installed modem scripts: file names from the modem-scripts folders of the user, network,
// local and system domains (KPaths::ModemScriptFolders), sorted case-insensitively with digit
// runs compared by value, without exact duplicates. Only names: callers that need a path
// search the same folders.
#pragma once

#include "platform/cf/KStatus.h"
#include "platform/cf/PValue.h"

#include <string>

// The script new modem services get when it is installed.
inline constexpr const char* kNetSCDefaultCCLName = "Apple Internal 56K Modem (v.90)";

// `result` must be empty; on 0 it holds the sorted names (maybe none). `indexOfDefaultCCL`,
// when given, receives the default script's position, or 0 when it is not installed.
OSStatus NetSCCreateCCLArray(PRef<PArray>& result, long* indexOfDefaultCCL = nullptr);

// Appends the plain, visible files of one folder, read in batches of 50 entries.
OSStatus AddCCLsInFolderToArray(const std::string& folder, PArray& array);

// The order of the list: <0, 0, >0; case-insensitive, digit runs by value.
int NetSCCompareCCLNames(const std::string& a, const std::string& b);
