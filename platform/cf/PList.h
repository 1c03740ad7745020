// Property lists: XML and binary ones are read, XML ones written, with libplist.
#pragma once

#include "platform/cf/PValue.h"

#include <string>
#include <string_view>

// Containers nested deeper than this are refused (far beyond any real file; it bounds the
// readers' recursion).
constexpr int kPListMaxNesting = 256;

// The tree in `bytes` (XML or binary); nullptr when the bytes are not a property list or nest
// deeper than kPListMaxNesting. `rewritable`, when given, is set false when the tree holds values
// that would change if written back (UIDs, integers above the signed 64-bit range).
PRef<PValue> PListCreateFromData(std::string_view bytes, bool mutableContainers, bool* rewritable = nullptr);

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

// Reads a whole regular file (after links) into `bytes`, as large as it was when opened; 0 or an
// errno value (EISDIR for a folder, EINVAL for anything else that is not a regular file).
int ReadWholeFile(const std::string& path, std::string& bytes);
