#include "app/card/CardReply.h"

#include <climits>
#include <cstdlib>

namespace CardReply {

namespace {

bool IsPrintable(unsigned char c)
{
    return c >= 0x20 && c <= 0x7E;
}

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// The start of the last line when `text` ends with CR LF and that line is `word` alone.
bool LastLineIs(std::string_view text, std::string_view word, size_t* lineStart)
{
    if (text.size() < word.size() + 2 || !text.ends_with("\r\n")) return false;
    const size_t start = text.size() - 2 - word.size();
    if (text.substr(start, word.size()) != word) return false;
    if (start > 0 && !IsLineEnd(text[start - 1])) return false;
    if (lineStart) *lineStart = start;
    return true;
}

} // namespace

Verdict Classify(std::string_view received)
{
    if (LastLineIs(received, "OK", nullptr)) return Verdict::kOK;
    if (LastLineIs(received, "ERROR", nullptr)) return Verdict::kError;
    return received.size() >= kMaxReply ? Verdict::kFull : Verdict::kMore;
}

std::string_view Body(std::string_view received)
{
    size_t start = 0;
    if (!LastLineIs(received, "OK", &start) && !LastLineIs(received, "ERROR", &start)) return received;
    // The line end that opens the final line: CR LF as cards send it, or a lone CR or LF.
    if (start >= 2 && received.substr(start - 2, 2) == "\r\n") start -= 2;
    else if (start >= 1 && IsLineEnd(received[start - 1])) start -= 1;
    return received.substr(0, start);
}

std::string_view SkipEcho(std::string_view body, size_t echoLength)
{
    return body.size() < echoLength ? std::string_view() : body.substr(echoLength);
}

std::string Printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (IsPrintable(static_cast<unsigned char>(c))) out.push_back(c);
    return out;
}

void ReadChannel(std::string_view answer, int16_t* channel)
{
    const std::string text = Printable(answer);
    if (text.empty() || text[0] < '0' || text[0] > '4') return;
    // A long run of digits saturates instead of wrapping into a wrong small number.
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > INT16_MAX) {
            value = INT16_MAX;
            break;
        }
    }
    if (channel) *channel = static_cast<int16_t>(value);
}

bool ReadLevels(std::string_view answer, int16_t* levels)
{
    for (int i = 0; i < kLevelCount; ++i) levels[i] = 0;

    // The count line: the first run of printable characters.
    size_t p = 0;
    while (p < answer.size() && !IsPrintable(static_cast<unsigned char>(answer[p]))) ++p;
    const size_t runStart = p;
    while (p < answer.size() && IsPrintable(static_cast<unsigned char>(answer[p]))) ++p;
    const std::string countLine(answer.substr(runStart, p - runStart));
    const long count = std::strtol(countLine.c_str(), nullptr, 10);
    if (count < 1 || count > kLevelCount) return false;

    // The levels: the rest of the reply, printable characters only, one digit per level.
    const std::string digits = Printable(answer.substr(p));
    if (digits.size() < size_t(count)) return false;
    for (long i = 0; i < count; ++i) {
        const char c = digits[size_t(i)];
        const int v = (c >= '0' && c <= '9') ? c - '0' : 0;
        levels[i] = static_cast<int16_t>(v <= 5 ? v : 0);
    }
    return true;
}

} // namespace CardReply
