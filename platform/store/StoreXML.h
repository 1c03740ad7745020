// The store's own XML property-list codec. The store file is rewritten on every commit and read
// by every connection, so this direct reader and writer replace a general property-list library
// on that path (several times faster on stores of thousands of services). The reader takes the
// forms the writer produces and what other writers commonly put in a plist; for anything else it
// gives up and the caller falls back to the general reader.
#pragma once

#include "platform/cf/PValue.h"

#include <string>
#include <string_view>

// Appends the XML property list of `value` to `out`.
void StoreXMLWrite(const PValue& value, std::string& out);
// Writes the XML property list of `value` to a file descriptor, a piece at a time; false when a
// write fails.
bool StoreXMLWriteToFile(const PValue& value, int fd);

// The value of an XML property list, with immutable containers; empty when the text is not one
// this reader understands.
PRef<PValue> StoreXMLRead(std::string_view xml);
