#include "app/card/CModemInfo.h"

#include "app/card/CSerialPort.h"
#include "platform/cf/KStatus.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

ModemInformation CModemInfo::mModemInfo;
CModemInfoHost* CModemInfo::sHost = nullptr;

namespace {

constexpr uint32_t kReplyTicks = 300;
constexpr size_t kReplySize = 256;
constexpr int kInitAttempts = 3;
constexpr int kLookupAttempts = 3;
constexpr int kMeasurementSteps = 6;

// The text after the echoed command; empty when the reply is shorter than the echo.
const char* SkipEcho(const char* reply, size_t echoLength)
{
    return strnlen(reply, echoLength) < echoLength ? "" : reply + echoLength;
}

bool IsPrintable(unsigned char c)
{
    return c >= 0x20 && c <= 0x7E;
}

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
    dest.Assign(ExtractInfo(SkipEcho(reply, 4)));
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
    const char* text = ExtractInfo(SkipEcho(reply, 7));
    if (text[0] >= '0' && text[0] <= '4') {
        // A long run of digits saturates instead of wrapping into a wrong small number.
        long value = 0;
        for (const char* p = text; *p >= '0' && *p <= '9'; ++p) {
            value = value * 10 + (*p - '0');
            if (value > INT16_MAX) {
                value = INT16_MAX;
                break;
            }
        }
        if (channel) *channel = static_cast<int16_t>(value);
    }
    return true;
}

bool CModemInfo::GetIntensity(int16_t* intensity)
{
    for (int i = 0; i < kIntensityCount; ++i) intensity[i] = 0;

    char reply[kReplySize] = {0};
    if (!Exchange("AT@@LVL\r", reply, sizeof reply)) return false;

    // The count line: the first run of printable characters after the echo.
    const char* p = SkipEcho(reply, 7);
    while (*p && !IsPrintable(static_cast<unsigned char>(*p))) ++p;
    const char* runStart = p;
    while (*p && IsPrintable(static_cast<unsigned char>(*p))) ++p;
    const std::string countLine(runStart, p);
    const long count = std::strtol(countLine.c_str(), nullptr, 10);
    if (count < 1 || count > kIntensityCount) return false;

    // The levels: the rest of the reply, printable characters only, one digit per level.
    const std::string levels = ExtractInfo(p);
    if (levels.size() < size_t(count)) return false;
    for (long i = 0; i < count; ++i) {
        const char c = levels[size_t(i)];
        intensity[i] = (c >= '0' && c <= '9') ? int16_t(c - '0') : int16_t(0);
    }
    for (int i = 0; i < kIntensityCount; ++i) {
        if (intensity[i] < 0 || intensity[i] > 5) intensity[i] = 0;
    }
    return true;
}

const char* CModemInfo::ExtractInfo(const char* text)
{
    static char buffer[2048];
    size_t n = 0;
    for (const char* p = text; p && *p && n < sizeof buffer - 1; ++p) {
        if (IsPrintable(static_cast<unsigned char>(*p))) buffer[n++] = *p;
    }
    buffer[n] = '\0';
    return buffer;
}

void CModemInfo::SpendTime()
{
    ++mStep;
    switch (mStep) {
    case 1: Initialize(); break;
    case 2: GetModemName(mModemInfo.modemName); break;
    case 3: GetPHSNo(mModemInfo.phsNo); break;
    case 4: GetFirmwareVersion(mModemInfo.firmwareVersion); break;
    case 5: GetChannel(&mModemInfo.channel); break;
    case 6: GetIntensity(mModemInfo.intensity); break;
    default: break;
    }
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
