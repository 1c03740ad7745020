// The store's own XML property-list codec. The store file is rewritten on every commit and read
// by every connection, so this direct reader and writer replace a general property-list library
// on that path (several times faster on stores of thousands of services). The reader takes the
// forms the writer produces and what other writers commonly put in a plist; for anything else it
// gives up and the caller falls back to the general reader.
#pragma once

#include "platform/cf/PValue.h"

#include <string>
#include <string_view>

enum class StoreXMLResult {
    Ok,
    WriteFailed,     // a write to the descriptor failed
    NotRepresentable // the tree holds a value no XML property list can carry (a control character
                     // in a string or key, a date with a fraction of a second or outside years 1-9999)
};

// Appends the XML property list of `value` to `out`; false (and `out` as it was) when the tree
// holds a value an XML property list cannot carry.
bool StoreXMLWrite(const PValue& value, std::string& out);
// Writes the XML property list of `value` to a file descriptor, a piece at a time. On anything
// but Ok the descriptor holds a partial document that the caller discards.
StoreXMLResult StoreXMLWriteToFile(const PValue& value, int fd);

// The value of an XML property list, with immutable containers; empty when the text is not one
// this reader understands. `tooDeep` is set when it was refused for nesting containers deeper
// than kPListMaxNesting: such a file is corrupt, whoever reads it.
PRef<PValue> StoreXMLRead(std::string_view xml, bool* tooDeep = nullptr);
