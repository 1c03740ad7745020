// The card's replies, read apart from any I/O: where a reply ends, what its text is, and the
// channel and level answers. Pure functions over the bytes received, so captured replies can
// be checked without a port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace CardReply {

constexpr int kLevelCount = 13;
// Characters an exchange collects at most; a reply still open then has failed.
constexpr size_t kMaxReply = 1023;

enum class Verdict {
    kMore,  // no final result line yet: keep reading
    kOK,    // the last line is "OK"
    kError, // the last line is "ERROR"
    kFull,  // kMaxReply characters and still no final result line
};

// Classifies everything received so far. A reply ends only at a final result line: "OK" or
// "ERROR" alone on the last line, closed by CR LF and preceded by a line end or nothing. An
// "OK" inside the information ("TOKYO-PHS", "BOOKS") does not end it.
Verdict Classify(std::string_view received);

// The reply without its final result line and the line end before it: "ATI4\r\r\nX\r\n\r\nOK\r\n"
// gives "ATI4\r\r\nX\r\n". Only meaningful when Classify gave kOK or kError.
std::string_view Body(std::string_view received);

// The text after the echoed command of `echoLength` characters; empty when shorter.
std::string_view SkipEcho(std::string_view body, size_t echoLength);

// The printable ASCII bytes (0x20 to 0x7E) of `text`, everything else dropped: lines are joined
// without a separator.
std::string Printable(std::string_view text);

// The channel answer (after the echo): when its printable text starts with '0' to '4', its
// leading digits (saturating at INT16_MAX) into *channel; otherwise *channel is left alone.
void ReadChannel(std::string_view answer, int16_t* channel);

// The level answer (after the echo): a count line of 1 to 13, then that many digits over the
// following lines. False for a bad count or too few digits; `levels` (13 entries) is cleared
// first, a non-digit or a digit above 5 gives 0.
bool ReadLevels(std::string_view answer, int16_t* levels);

} // namespace CardReply
