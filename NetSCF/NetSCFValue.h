// Value helpers of the network preferences library: the text forms of MAC and IPv4 addresses,
// the stored form of a PPP password, and container operations that tolerate a missing value.
// Out-parameters must be empty on entry and are empty again whenever the status is not 0.
#pragma once

#include "platform/cf/KStatus.h"
#include "platform/cf/PValue.h"

#include <cstdint>
#include <netinet/in.h>

// "12:34:56:78:9a:bc" from six bytes, first byte first.
OSStatus NetSCFCreateStringWithMacAddress(const uint8_t macAddr[6], PRef<PString>& result);
// Six hexadecimal fields of at most two digits separated by ":"; -1 when fewer than six are read,
// -4960 when the text is longer than 17 characters or not ASCII. `macAddr` changes only on 0.
OSStatus NetSCFStringToMacAddress(const PString& cfStr, uint8_t macAddr[6]);

// Dotted decimal from an address in network byte order.
OSStatus NetSCFCreateStringWithInetAddress(in_addr address, PRef<PString>& result);
OSStatus NetSCFCreateArrayWithInetAddresses(uint32_t addrCount, const in_addr* addresses,
                                            PRef<PArray>& result);

// The password's UTF-16 code units, most significant byte first, no byte-order mark.
OSStatus NetSCFCopyEncodedPPPPassword(const PString& password, PRef<PData>& encodedPassword);

// Takes one more reference when the value is present; returns it.
PValue* CFXRetain(const PValue* value);
// Gives up one reference when the value is present.
void CFXRelease(const PValue* value);

OSStatus CFXDictionaryCreateMutable(PRef<PDictionary>& result);
OSStatus CFXArrayCreateMutable(PRef<PArray>& result);
// An immutable array of the dictionary's keys, in the dictionary's own order.
OSStatus CFXArrayCreateWithDictionaryKeys(const PDictionary& dict, PRef<PArray>& result);
// Sets `key` to a 32-bit number, replacing whatever the key held.
OSStatus CFXDictionarySetNumber(PDictionary& dict, const PString& key, int32_t value);
