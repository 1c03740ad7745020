#include "app/card/CModemInfo.h"

#include "app/card/CCardExchange.h"
#include "app/card/CSerialPort.h"
#include "app/card/CardReply.h"
#include "platform/cf/KStatus.h"
#include "platform/shell/KLog.h"

#include <QCoreApplication>

#include <cstring>
#include <string>
#include <string_view>

ModemInformation CModemInfo::mModemInfo;
CModemInfoHost* CModemInfo::sHost = nullptr;

namespace {

constexpr uint32_t kReplyTicks = 300;
constexpr size_t kReplySize = 256;
constexpr int kInitAttempts = 3;
constexpr int kLookupAttempts = 3;
constexpr int kMeasurementSteps = 6;

// The reply's text after the echoed command, as a C string would hold it.
std::string_view AfterEcho(const char* reply, size_t echoLength)
{
    return CardReply::SkipEcho(std::string_view(reply), echoLength);
}

struct StepCommand {
    const char* command;
    size_t echo;
};
// Step n (1 to 6) sends kSteps[n - 1].
constexpr StepCommand kSteps[kMeasurementSteps] = {
    {"ATE1\r", 0}, {"ATI4\r", 4}, {"ATI6\r", 4}, {"ATI5\r", 4}, {"AT@@LNK\r", 7}, {"AT@@LVL\r", 7},
};

} // namespace

void CModemInfo::SetHost(CModemInfoHost* host)
{
    sHost = host;
}

CModemInfo* CModemInfo::GetInformation(CModemInfoHost* app)
{
    return new CModemInfo(app);
}

CModemInfo::CModemInfo()
{
    OpenCardPort(sHost);
}

CModemInfo::CModemInfo(CModemInfoHost* app) : mAppMain(app)
{
    OpenCardPort(app);
    mStep = 0;
    StartIdling();
}

CModemInfo::~CModemInfo()
{
    mExchange.reset(); // before the port it waits on
    delete mSerialPort;
}

void CModemInfo::OpenCardPort(CModemInfoHost* host)
{
    char path[kPortNameSize] = {0};
    if (!host || !host->CardPortName(path, sizeof path) || path[0] == '\0') {
        mPortErr = kStatusBadParam;
        return;
    }
    mSerialPort = new CSerialPort(path, &mPortErr);
}

bool CModemInfo::HasPort() const
{
    return mSerialPort && mPortErr == kStatusOK;
}

bool CModemInfo::Exchange(const char* command, char* reply, size_t replySize)
{
    // Without a usable port every exchange fails, and nothing touches a device.
    if (!HasPort()) return false;
    if (!mSerialPort->SendPort(command)) return false;
    return mSerialPort->RecvPort(reply, replySize, kReplyTicks);
}

bool CModemInfo::Initialize()
{
    bool result = false;
    for (int attempt = 0; attempt < kInitAttempts; ++attempt) {
        char reply[kReplySize] = {0};
        result = Exchange("ATE1\r", reply, sizeof reply);
        if (result) break;
    }
    return result;
}

bool CModemInfo::GetTextItem(const char* command, Str255& dest)
{
    char reply[kReplySize] = {0};
    if (!Exchange(command, reply, sizeof reply)) return false;
    dest.Assign(CardReply::Printable(AfterEcho(reply, 4)).c_str());
    return true;
}

bool CModemInfo::GetModemName(Str255& dest)
{
    return GetTextItem("ATI4\r", dest);
}

bool CModemInfo::GetPHSNo(Str255& dest)
{
    return GetTextItem("ATI6\r", dest);
}

bool CModemInfo::GetFirmwareVersion(Str255& dest)
{
    return GetTextItem("ATI5\r", dest);
}

bool CModemInfo::GetChannel(int16_t* channel)
{
    char reply[kReplySize] = {0};
    if (!Exchange("AT@@LNK\r", reply, sizeof reply)) return false;
    CardReply::ReadChannel(AfterEcho(reply, 7), channel);
    return true;
}

bool CModemInfo::GetIntensity(int16_t* intensity)
{
    for (int i = 0; i < kIntensityCount; ++i) intensity[i] = 0;
    char reply[kReplySize] = {0};
    if (!Exchange("AT@@LVL\r", reply, sizeof reply)) return false;
    return CardReply::ReadLevels(AfterEcho(reply, 7), intensity);
}

const char* CModemInfo::ExtractInfo(const char* text)
{
    static char buffer[2048];
    size_t n = 0;
    for (const char* p = text; p && *p && n < sizeof buffer - 1; ++p) {
        if (*p >= 0x20 && *p <= 0x7E) buffer[n++] = *p;
    }
    buffer[n] = '\0';
    return buffer;
}

void CModemInfo::SpendTime()
{
    if (mExchange && mExchange->Running()) return; // not idling meanwhile; a stray pass waits
    ++mStep;
    qCDebug(lcCard) << "measurement step" << mStep;
    if (QCoreApplication::instance() && HasPort()) {
        // Off the idle tasks until the card has answered; the next step starts on the idle
        // pass after that, one exchange per step as before.
        StopIdling();
        mAttempt = 0;
        StartStepExchange();
        return;
    }
    RunStepBlocking();
    EndStep();
}

void CModemInfo::RunStepBlocking()
{
    switch (mStep) {
    case 1: Initialize(); break;
    case 2: GetModemName(mModemInfo.modemName); break;
    case 3: GetPHSNo(mModemInfo.phsNo); break;
    case 4: GetFirmwareVersion(mModemInfo.firmwareVersion); break;
    case 5: GetChannel(&mModemInfo.channel); break;
    case 6: GetIntensity(mModemInfo.intensity); break;
    default: break;
    }
}

void CModemInfo::StartStepExchange()
{
    if (mStep == 6)
        for (int16_t& level : mModemInfo.intensity) level = 0; // cleared even when the exchange fails
    if (!mExchange) mExchange = std::make_unique<CCardExchange>();
    ++mAttempt;
    mExchange->Start(mSerialPort, kSteps[mStep - 1].command, kReplyTicks,
                     [this](bool ok, const std::string& reply) { StepExchanged(ok, reply); });
}

void CModemInfo::StepExchanged(bool ok, const std::string& reply)
{
    // The same cut as the blocking exchanges' 256-byte destination, and their C-string view.
    char text[kReplySize] = {0};
    if (ok) CSerialPort::CopyReply(reply, text, sizeof text);
    const std::string_view answer = AfterEcho(text, kSteps[mStep - 1].echo);
    switch (mStep) {
    case 1:
        if (!ok && mAttempt < kInitAttempts) {
            StartStepExchange();
            return;
        }
        break;
    case 2: if (ok) mModemInfo.modemName.Assign(CardReply::Printable(answer).c_str()); break;
    case 3: if (ok) mModemInfo.phsNo.Assign(CardReply::Printable(answer).c_str()); break;
    case 4: if (ok) mModemInfo.firmwareVersion.Assign(CardReply::Printable(answer).c_str()); break;
    case 5: if (ok) CardReply::ReadChannel(answer, &mModemInfo.channel); break;
    case 6: if (ok) CardReply::ReadLevels(answer, mModemInfo.intensity); break;
    default: break;
    }
    if (mStep < kMeasurementSteps) {
        StartIdling();
        return;
    }
    EndStep();
}

void CModemInfo::EndStep()
{
    if (mStep >= kMeasurementSteps) {
        mStep = 0;
        StopIdling();
        if (mAppMain) mAppMain->MeasurementDone(&mModemInfo);
        delete this;
        // Nothing may touch the object from here on.
    }
}

namespace {

bool Lookup(Str255& dest, bool (CModemInfo::*get)(Str255&))
{
    dest.Assign("");
    auto* info = new CModemInfo();
    bool result = false;
    for (int i = 0; i < kInitAttempts && !result; ++i) result = info->Initialize();
    if (result) {
        result = false;
        for (int i = 0; i < kLookupAttempts && !result; ++i) result = (info->*get)(dest);
    }
    delete info;
    return result;
}

} // namespace

bool CModemInfo::GetModemNameGrobal(Str255& dest)
{
    return Lookup(dest, &CModemInfo::GetModemName);
}

bool CModemInfo::GetPHSNumberGrobal(Str255& dest)
{
    return Lookup(dest, &CModemInfo::GetPHSNo);
}
