// Fuzzes the card reply reading: every input is a reply as it might arrive on the line.
#include "app/card/CardReply.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view received(reinterpret_cast<const char*>(data), size);
    const CardReply::Verdict verdict = CardReply::Classify(received);
    const std::string_view body = CardReply::Body(received);
    // The body is a prefix of what was received, and shorter when a final line was found.
    if (body.size() > received.size() || received.substr(0, body.size()) != body) std::abort();
    if ((verdict == CardReply::Verdict::kOK || verdict == CardReply::Verdict::kError) && body.size() >= received.size())
        std::abort();
    if (verdict == CardReply::Verdict::kFull && size < CardReply::kMaxReply) std::abort();

    for (size_t echo : {size_t(0), size_t(4), size_t(7)}) {
        const std::string_view answer = CardReply::SkipEcho(body, echo);
        for (char c : CardReply::Printable(answer))
            if (c < 0x20 || c > 0x7E) std::abort();
        int16_t channel = -1;
        CardReply::ReadChannel(answer, &channel);
        if (channel != -1 && channel < 0) std::abort();
        int16_t levels[CardReply::kLevelCount];
        CardReply::ReadLevels(answer, levels);
        for (int16_t level : levels)
            if (level < 0 || level > 5) std::abort();
    }
    return 0;
}
