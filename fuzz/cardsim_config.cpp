// kavanti-cardsim's config reader: any text is read or refused with a message naming the line;
// what it reads, written out as a config file, reads back to the same settings.
#include "sim/cardsim/CardSimConfig.h"

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CardSimConfig cfg;
    std::string error;
    if (!CardSimParseConfig(cfg, text, "fuzz.conf", error)) {
        if (error.rfind("fuzz.conf:", 0) != 0) {
            std::fprintf(stderr, "cardsim_config: message without the line: %s\n", error.c_str());
            std::abort();
        }
        return 0;
    }
    const std::string dump = CardSimDumpConfig(cfg);
    CardSimConfig again;
    if (!CardSimParseConfig(again, dump, "dump", error) || CardSimDumpConfig(again) != dump) {
        std::fprintf(stderr, "cardsim_config: the written settings do not read back: %s\n%s", error.c_str(), dump.c_str());
        std::abort();
    }
    return 0;
}
