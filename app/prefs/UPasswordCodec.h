// The password as the preferences file and the network preferences keep it: its UTF-16 code
// units, most significant byte first, no byte-order mark, not enciphered. The configuration
// reader's USysConfig offers these same operations by deriving from this class, so the settings
// store needs nothing from the network-configuration code.
#pragma once

#include "platform/cf/KStatus.h"
#include "platform/cf/PValue.h"

class UPasswordCodec {
public:
    // 0; -50 without a string; -4960 when the data value cannot be made. `out` must be empty.
    static OSStatus CopyEncodePassword(const PString* password, PRef<PData>& out);
    // 0; -50 without a data value; -4960 when the string cannot be made (an unpaired surrogate).
    // An odd last byte is ignored. `out` must be empty.
    static OSStatus CopyDecodePassword(const PData* data, PRef<PString>& out);
};
