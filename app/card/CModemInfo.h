// The card information query: a short AT dialogue that reads the card's model name, PHS
// number, firmware version, channel count and thirteen signal-intensity levels.
#pragma once

#include "platform/cf/PText.h"
#include "platform/shell/KCommander.h"
#include "platform/shell/KPeriodical.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CSerialPort;
class CCardExchange;

constexpr int kIntensityCount = 13;
constexpr size_t kPortNameSize = PATH_MAX; // the card's device path: any path the system allows

// The card information handed to the application after a measurement.
struct ModemInformation {
    Str255 modemName;       // answer to "ATI4"
    Str255 phsNo;           // answer to "ATI6"
    Str255 firmwareVersion; // answer to "ATI5"
    int16_t channel = 0;    // answer to "AT@@LNK"
    int16_t intensity[kIntensityCount] = {}; // answer to "AT@@LVL", each 0 to 5
};

// What the query needs from the application object; the application implements it (the card
// layer may not see the application's own classes).
class CModemInfoHost {
public:
    virtual ~CModemInfoHost() = default;
    // Copies the card's device path into `dest` (`size` bytes, NUL-terminated); false and an
    // empty `dest` when there is no card port.
    virtual bool CardPortName(char* dest, size_t size) = 0;
    // The end of a measurement; `info` stays valid until the next measurement.
    virtual void MeasurementDone(ModemInformation* info) = 0;
};

class CModemInfo : public KCommander, public KPeriodical {
public:
    // The host the blocking look-ups (and the parameterless constructor) take the port from;
    // none: they have no port and fail.
    static void SetHost(CModemInfoHost* host);

    // Starts a measurement that runs one step per idle pass and, after the sixth, calls
    // app->MeasurementDone once and deletes itself. The caller must not delete it. With an
    // event loop each step's exchange runs on it (the loop serves other events while the card
    // answers) and the next step waits for the next idle pass; without one a step blocks.
    static CModemInfo* GetInformation(CModemInfoHost* app);

    // Blocking look-ups: `dest` becomes empty, then receives the answer. True on success.
    static bool GetModemNameGrobal(Str255& dest);
    static bool GetPHSNumberGrobal(Str255& dest);

    // The record every measurement writes into (all zero at start-up).
    static ModemInformation& Record() { return mModemInfo; }

    CModemInfo();                               // for the blocking look-ups: opens, no idling
    explicit CModemInfo(CModemInfoHost* app);   // for a measurement: opens and starts idling
    ~CModemInfo() override;

    bool Initialize();
    bool GetModemName(Str255& dest);
    bool GetPHSNo(Str255& dest);
    bool GetFirmwareVersion(Str255& dest);
    bool GetChannel(int16_t* channel);
    bool GetIntensity(int16_t* intensity); // the first of kIntensityCount entries

    // The printable ASCII bytes (0x20 to 0x7E) of `text`, everything else dropped, in one
    // static buffer that the next call reuses.
    static const char* ExtractInfo(const char* text);

    void SpendTime() override;

    bool HasPort() const;

private:
    void OpenCardPort(CModemInfoHost* host);
    void RunStepBlocking();
    void StartStepExchange();
    void StepExchanged(bool ok, const std::string& reply);
    void EndStep();
    bool Exchange(const char* command, char* reply, size_t replySize);
    bool GetTextItem(const char* command, Str255& dest);

    static ModemInformation mModemInfo;
    static CModemInfoHost* sHost;

    CModemInfoHost* mAppMain = nullptr;
    CSerialPort* mSerialPort = nullptr;
    int16_t mStep = 0;
    int32_t mPortErr = 0;
    std::unique_ptr<CCardExchange> mExchange; // the exchange in flight in an event-driven step
    int mAttempt = 0;                         // echo-on attempts made in step 1
};
