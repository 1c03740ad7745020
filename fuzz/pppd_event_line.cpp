// The lines of kavanti-events.so as the pppd backend reads them: any bytes, split into lines,
// go through the parser and the translator. A line the parser accepts must be one the plugin
// can write, and must read back the same once written.
#include "platform/ppp/KPPPPppd.h"
#include "platform/ppp/pppd-plugin/KavantiEventLine.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

const char* Name(KPPP::EventLine::Kind kind)
{
    switch (kind) {
    case KPPP::EventLine::kPhase: return KV_EVENT_PHASE;
    case KPPP::EventLine::kAuthUp: return KV_EVENT_AUTH_UP;
    case KPPP::EventLine::kIPUp: return KV_EVENT_IP_UP;
    case KPPP::EventLine::kLinkDown: return KV_EVENT_LINK_DOWN;
    case KPPP::EventLine::kExit: return KV_EVENT_EXIT;
    }
    return "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    KPPP::PppdTranslator translator;
    while (!input.empty()) {
        const size_t nl = input.find('\n');
        const std::string_view text = input.substr(0, nl);
        input.remove_prefix(nl == std::string_view::npos ? input.size() : nl + 1);
        KPPP::EventLine line;
        if (!KPPP::ParseEventLine(text, line)) continue;
        (void)translator.OnLine(line);
        const bool hasValue = line.kind == KPPP::EventLine::kPhase || line.kind == KPPP::EventLine::kExit;
        char buf[KV_EVENT_LINE_MAX];
        const int n = kv_event_format(buf, sizeof buf, Name(line.kind), hasValue, line.value);
        KPPP::EventLine again;
        if (n <= 0 || buf[n - 1] != '\n' || !KPPP::ParseEventLine(std::string_view(buf, size_t(n) - 1), again) ||
            again.kind != line.kind || again.value != line.value) {
            std::fprintf(stderr, "pppd_event_line: '%.*s' does not survive being written\n", int(text.size()), text.data());
            std::abort();
        }
    }
    (void)translator.OnExit(size > 0 ? data[0] : 0, size > 1 && (data[1] & 1));
    return 0;
}
