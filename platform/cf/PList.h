// Property lists: XML and binary ones are read, XML ones written, with libplist.
#pragma once

#include "platform/cf/PValue.h"

#include <string>
#include <string_view>

// The tree in `bytes` (XML or binary); nullptr when the bytes are not a property list.
PRef<PValue> PListCreateFromData(std::string_view bytes, bool mutableContainers);

// The value as an XML property list; false when it cannot be written.
bool PListCreateXMLData(const PValue& value, std::string& xml);

enum class PListReadResult {
    Ok,
    NotFound,        // no such file
    IOError,         // the file exists but could not be read (errno in *err)
    NotAPropertyList // the file was read but does not parse (an empty file included)
};

// Reads and parses a whole file. `out` must be empty; it stays empty unless the result is Ok.
PListReadResult PListReadFile(const std::string& path, bool mutableContainers, PRef<PValue>& out,
                              int* err = nullptr);

// Reads a whole file into `bytes`; 0 or an errno value.
int ReadWholeFile(const std::string& path, std::string& bytes);
