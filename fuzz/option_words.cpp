// The pppd options-file word reader: any text either reads as words or is refused (an open
// quote). Words read back unchanged once written as the peer file writes them (in double
// quotes, backslash before \ and ").
#include "platform/ppp/KPPPPeerFile.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> words;
    if (!KPPP::ReadOptionWords(text, words)) return 0;
    std::string written;
    for (const std::string& w : words) {
        written += '"';
        for (const char c : w) {
            if (c == '\\' || c == '"') written += '\\';
            written += c;
        }
        written += "\"\n";
    }
    std::vector<std::string> again;
    if (!KPPP::ReadOptionWords(written, again) || again != words) {
        std::fprintf(stderr, "option_words: words do not survive being written\n");
        std::abort();
    }
    return 0;
}
