// A transport that records what the controller asks of the endpoint, for the controller's
// tables of cases; events are fed to CPPPControl::EndpointNotifier by the test.
#pragma once

#include "platform/ppp/KPPPEndpoint.h"

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct FakeEndpointLog {
    std::vector<std::string> calls;            // "open", "options:<name>", "dial", "hangup", "close", ...
    std::map<uint32_t, std::string> options;   // option name -> value as text (alerts: "0")
    int endpointsOpened = 0;
};

class FakeEndpoint final : public KPPP::Endpoint {
public:
    explicit FakeEndpoint(FakeEndpointLog& log) : mLog(log) {}
    std::map<uint32_t, uint32_t> verdicts; // option name -> status written back (default success)
    std::map<uint32_t, OSStatus> errors;   // option name -> OptionManagement's result
    int stateChanges = 0;                  // answers -3168 this many times first
    OSStatus dialResult = 0;

    OSStatus InstallNotifier(KPPP::Notifier n, void* c) override
    {
        notifier = n;
        context = c;
        mLog.calls.push_back("notifier");
        return 0;
    }
    void RemoveNotifier() override
    {
        notifier = nullptr;
        mLog.calls.push_back("remove-notifier");
    }
    OSStatus SetAsynchronous() override { return 0; }
    OSStatus SetNonBlocking() override { return 0; }
    OSStatus SetProgressEvents(bool on) override
    {
        mLog.calls.push_back(on ? "progress-on" : "progress-off");
        return 0;
    }
    OSStatus OptionManagement(KPPP::OptionRequest& r) override
    {
        if (stateChanges > 0) {
            --stateChanges;
            mLog.calls.push_back("busy");
            return KPPP::kStatusStateChange;
        }
        KPPP::OptionHeader h;
        std::memcpy(&h, r.buffer, sizeof h);
        const char* value = reinterpret_cast<const char*>(r.buffer + KPPP::kOptionHeaderSize);
        std::string text = h.name == KPPP::kOptionAlerts ? std::to_string(*reinterpret_cast<const uint32_t*>(value))
                                                         : std::string(value, strnlen(value, h.length - 16));
        mLog.calls.push_back("option:" + std::to_string(h.name));
        mLog.options[h.name] = text;
        lengths[h.name] = h.length;
        if (auto e = errors.find(h.name); e != errors.end())
            return e->second;
        auto v = verdicts.find(h.name);
        h.status = v != verdicts.end() ? v->second : KPPP::kOptionSuccess;
        std::memcpy(r.buffer, &h, sizeof h);
        return 0;
    }
    OSStatus Dial() override
    {
        mLog.calls.push_back("dial");
        return dialResult;
    }
    OSStatus HangUp() override
    {
        mLog.calls.push_back("hangup");
        return 0;
    }

    KPPP::Notifier notifier = nullptr;
    void* context = nullptr;
    std::map<uint32_t, uint32_t> lengths;

private:
    FakeEndpointLog& mLog;
};

class FakeTransport final : public KPPP::Transport {
public:
    FakeEndpointLog log;
    OSStatus initResult = 0;
    OSStatus openResult = 0;
    std::vector<std::pair<KPPP::PortRecord, uint16_t>> ports; // record, device type
    // Applied to every endpoint the transport opens.
    std::function<void(FakeEndpoint&)> configure;

    OSStatus Init() override
    {
        log.calls.push_back("init");
        return initResult;
    }
    void Close() override
    {
        log.calls.push_back("close");
        endpoint.reset();
    }
    KPPP::Endpoint* OpenEndpoint(OSStatus* error) override
    {
        log.calls.push_back("open");
        *error = openResult;
        if (openResult != 0)
            return nullptr;
        endpoint = std::make_unique<FakeEndpoint>(log);
        ++log.endpointsOpened;
        if (configure)
            configure(*endpoint);
        return endpoint.get();
    }
    bool GetIndexedPort(KPPP::PortRecord& record, uint32_t index) override
    {
        if (index >= ports.size())
            return false;
        record = ports[index].first;
        record.ref = index + 100;
        return true;
    }
    uint16_t GetDeviceType(uint32_t ref) override { return ports.at(ref - 100).second; }

    std::unique_ptr<FakeEndpoint> endpoint;
};

// Installs the fake for the life of the object.
struct ScopedTransport {
    explicit ScopedTransport(KPPP::Transport& t) { KPPP::SetTransport(&t); }
    ~ScopedTransport() { KPPP::SetTransport(nullptr); }
};
