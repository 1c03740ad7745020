// The machine's network ports as port dictionaries: every Ethernet-like interface and every
// modem or serial port, each with a user-visible name, in the order a location lists its
// services. Reads the device registry (platform/ports); never touches the store.
#pragma once

#include "platform/cf/KStatus.h"
#include "platform/cf/PValue.h"
#include "platform/ports/KPorts.h"

#include <cstdint>

// A new sorted array of port dictionaries ("SortOrder", "DeviceName", "Hardware", "Type",
// "SubType", "MACAddress", "HardwareVariant", "UserDefinedName", and the placeholder values a
// name needed). `portArray` must be empty; it stays empty unless the status is 0.
OSStatus NetSCCreatePortArray(PRef<PArray>& portArray);

// ---- the steps, for the library's own use and its tests ----

using NetSCDeviceToDictProc = OSStatus (*)(void* context, const KPorts::Device& device, PDictionary& portDict);

OSStatus AddMatchingDevicesToArray(PRef<PDictionary> deviceMatchDict, NetSCDeviceToDictProc deviceToDict,
                                   void* context, PArray& result);
OSStatus EthernetDeviceToDictProc(void* context, const KPorts::Device& device, PDictionary& portDict);
OSStatus ModemOrSerialDeviceToDictProc(void* context, const KPorts::Device& device, PDictionary& portDict);

OSStatus CopyUserVisiblePortName(const KPorts::Device& interface, PDictionary& interfaceInfo,
                                 PRef<PString>& userVisibleName);
OSStatus CopyUserVisibleNameForEthernetPort(const KPorts::Device& interface, PDictionary& interfaceInfo,
                                            PRef<PString>& nameTemplate);
OSStatus CopyUserVisibleNameForModemOrSerialPort(const KPorts::Device& interface, PDictionary& interfaceInfo,
                                                 PRef<PString>& nameTemplate);
OSStatus SubstituteKeywordsInUserVisibleName(const KPorts::Device& interface, const PDictionary& interfaceInfo,
                                             const PString& nameTemplate, PRef<PString>& userVisibleName);

// Less than 0, 0 or greater than 0: by sort key (100 when absent), then by name.
int PortSorter(const PDictionary& lhs, const PDictionary& rhs);
int32_t SortOrder(const PDictionary& portDict);

bool CFEqualString(const PString* a, const PString* b);
// Trailing zero bytes dropped, the rest read as Mac Roman; none when it cannot be made.
PRef<PString> CreateStringFromData(const PData* data);
// "aa:bb:cc:dd:ee:ff" for exactly 6 bytes; none otherwise.
PRef<PString> CreateMACFromData(const PData* data);
