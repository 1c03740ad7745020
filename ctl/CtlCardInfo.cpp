// kavanti-ctl card-info: one measurement of the card, through the same idle task the
// application runs.
#include "ctl/Commands.h"

#include "app/card/CModemInfo.h"
#include "app/card/CSerialPort.h"
#include "platform/ports/KPorts.h"
#include "platform/shell/KEventLoop.h"

#include <QCoreApplication>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

class CtlCardHost : public CModemInfoHost {
public:
    explicit CtlCardHost(std::string port) : mPort(std::move(port)) {}
    bool CardPortName(char* dest, size_t size) override
    {
        if (size == 0) return false;
        dest[0] = '\0';
        return CopyCString(dest, size, mPort) && !mPort.empty();
    }
    void MeasurementDone(ModemInformation* info) override
    {
        mInfo = info ? *info : ModemInformation{};
        mDone = true;
        KEventLoop::Quit(0);
    }
    bool Done() const { return mDone; }
    const ModemInformation& Info() const { return mInfo; }

private:
    std::string mPort;
    ModemInformation mInfo;
    bool mDone = false;
};

int Usage()
{
    std::fprintf(stderr, "usage: kavanti-ctl card-info [--port PATH] [--json]\n");
    return 2;
}

} // namespace

int CtlCardInfo(const std::vector<std::string>& args)
{
    std::string port;
    bool json = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--port" && i + 1 < args.size()) {
            port = args[++i];
        } else if (args[i].rfind("--port=", 0) == 0) {
            port = args[i].substr(7);
        } else if (args[i] == "--help" || args[i] == "-h") {
            std::printf("usage: kavanti-ctl card-info [--port PATH] [--json]\n"
                        "Measures the card: model name, PHS number, firmware version, channel count and\n"
                        "the 13 signal-intensity levels (0 to 5). --port names the card's serial device;\n"
                        "without it the card's port is found as the application finds it.\n");
            return 0;
        } else {
            return Usage();
        }
    }
    if (port.empty()) {
        // The same discovery the application runs: the first PC Card or Slipper modem port.
        KPorts::PortRecord card;
        if (!KPorts::FindCardPort(card)) {
            std::fprintf(stderr, "kavanti-ctl: card-info: no card found (no PC Card modem or Slipper USB modem); "
                                 "name its port with --port PATH\n");
            return 1;
        }
        port = card.portName;
    }
    if (port.size() >= kPortNameSize) {
        std::fprintf(stderr, "kavanti-ctl: card-info: the port path '%s' is longer than %zu characters\n",
                     port.c_str(), kPortNameSize - 1);
        return 1;
    }
    if (CSerialPort::PortUsed(port.c_str())) {
        const bool exists = access(port.c_str(), F_OK) == 0;
        std::fprintf(stderr, "kavanti-ctl: card-info: cannot open the card's port '%s': %s\n", port.c_str(),
                     exists ? "it is in use or is not a serial port" : "no such device");
        return 1;
    }

    static int argc = 1;
    static char arg0[] = "kavanti-ctl";
    static char* argv[] = {arg0, nullptr};
    QCoreApplication app(argc, argv);

    CtlCardHost host(port);
    CModemInfo::GetInformation(&host);
    KEventLoop::Run();
    const ModemInformation& info = host.Info();

    if (info.modemName.Length() == 0 && info.phsNo.Length() == 0 && info.firmwareVersion.Length() == 0) {
        std::fprintf(stderr, "kavanti-ctl: card-info: the card on '%s' did not answer\n", port.c_str());
        return 1;
    }

    if (json) {
        nlohmann::ordered_json j; // keys in the documented order
        j["modemName"] = std::string(info.modemName.View());
        j["phsNo"] = std::string(info.phsNo.View());
        j["firmwareVersion"] = std::string(info.firmwareVersion.View());
        j["channel"] = info.channel;
        j["intensity"] = nlohmann::ordered_json::array();
        for (int16_t level : info.intensity) j["intensity"].push_back(level);
        std::printf("%s\n", CtlDump(j).c_str());
    } else {
        std::printf("Model name:       %s\n", std::string(info.modemName.View()).c_str());
        std::printf("PHS number:       %s\n", std::string(info.phsNo.View()).c_str());
        std::printf("Firmware version: %s\n", std::string(info.firmwareVersion.View()).c_str());
        std::printf("Channel:          %d\n", info.channel);
        std::printf("Intensity:       ");
        for (int16_t level : info.intensity) std::printf(" %d", level);
        std::printf("\n");
    }
    return 0;
}
