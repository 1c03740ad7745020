#include "app/ppp/CPPPControl.h"

#include "platform/ports/KPorts.h"
#include "platform/ppp/KPPPPppd.h"
#include "platform/shell/KLog.h"

#include <cstring>
#include <string>
#include <vector>

using namespace KPPP;

CDialupStatusSink* CPPPControl::mAppMain = nullptr;
int32_t CPPPControl::mPortStatus = CPPPControl::kPortClosed;
int32_t CPPPControl::mPPPStatus = CPPPControl::kPPPIdle;

namespace {

void CopyCut(char* dest, size_t size, const char* src)
{
    if (!src)
        src = "";
    const size_t n = strnlen(src, size - 1);
    std::memcpy(dest, src, n);
    std::memset(dest + n, 0, size - n);
}

} // namespace

CPPPControl::CPPPControl(CDialupStatusSink* appMain)
{
    mAppMain = appMain;
    mEndpoint = nullptr;
    mPortStatus = kPortClosed;
    ChangePPPStatus(kPPPIdle, "controller made");
}

const char* CPPPControl::PPPStatusName(int32_t status)
{
    switch (status) {
    case kPPPIdle: return "idle";
    case kPPPConnectComplete: return "connect complete";
    case kPPPIPUp: return "IP up";
    case kPPPHungUp: return "hung up";
    default: return "unknown";
    }
}

const char* CPPPControl::DialupStatusName(short status)
{
    switch (status) {
    case kStatusLinkDown: return "link down";
    case kStatusConnected: return "connected";
    case kStatusConnectComplete: return "connect complete";
    case kStatusModemInitialised: return "modem initialised";
    case kStatusAuthenticating: return "authenticating";
    case kStatusHungUp: return "hung up";
    case kStatusFailure: return "failure";
    case kStatusEndpointFailed: return "endpoint failed";
    default: return "unknown";
    }
}

void CPPPControl::ChangePPPStatus(PPPStatus to, const char* why)
{
    if (mPPPStatus != to)
        qCDebug(lcPPP, "PPP status %s \u2192 %s (%s)", PPPStatusName(mPPPStatus), PPPStatusName(to), why);
    mPPPStatus = to;
}

void CPPPControl::Report(DialupStatus status, long error, const char* why)
{
    static short last = kStatusLinkDown;
    if (lcPPP().isDebugEnabled()) {
        // Positive errors are pppd's exit statuses; negative ones the platform's codes.
        const std::string detail = error > 0 ? KPPP::ExitStatusText(int(error)) : std::to_string(error);
        qCDebug(lcPPP, "dial-up %s \u2192 %s (%s%s%s)", DialupStatusName(last), DialupStatusName(status), why,
                error != 0 ? ": " : "", error != 0 ? detail.c_str() : "");
    }
    last = status;
    if (mAppMain)
        mAppMain->SetDialupStatus(status, error);
}

OSStatus CPPPControl::OpenPort()
{
    Transport& transport = CurrentTransport();
    OSStatus err = transport.Init();
    if (err != kStatusOK) {
        mPortStatus = kPortTransportFailed;
        return err;
    }
    err = kStatusOK;
    mEndpoint = transport.OpenEndpoint(&err);
    if (err != kStatusOK || !mEndpoint) {
        mEndpoint = nullptr;
        Report(kStatusEndpointFailed, err, "the endpoint could not be opened");
        return err != kStatusOK ? err : kStatusBadParam;
    }
    err = mEndpoint->InstallNotifier(&CPPPControl::EndpointNotifier, this);
    if (err != kStatusOK)
        return err;
    err = mEndpoint->SetAsynchronous();
    if (err == kStatusOK)
        err = mEndpoint->SetNonBlocking();
    if (err == kStatusOK)
        err = mEndpoint->SetProgressEvents(true);
    if (err != kStatusOK)
        return err;
    mPortStatus = kPortOpen;
    return kStatusOK;
}

void CPPPControl::ClosePort()
{
    if (mPortStatus != kPortOpen)
        return;
    if (mEndpoint) {
        mEndpoint->SetProgressEvents(false);
        mEndpoint->RemoveNotifier();
    }
    CurrentTransport().Close();
    mEndpoint = nullptr;
    mPortStatus = kPortClosed;
}

OSStatus CPPPControl::Connect(const char* accessPoint, const char* userName, const char* password)
{
    CopyCut(mTmpAccessPoint, sizeof mTmpAccessPoint, accessPoint);
    CopyCut(mTmpUserName, sizeof mTmpUserName, userName);
    CopyCut(mTmpPassword, sizeof mTmpPassword, password);
    return Connect();
}

OSStatus CPPPControl::Connect()
{
    // Every dial starts on a freshly opened endpoint.
    if (mPortStatus == kPortOpen)
        ClosePort();
    OSStatus status = OpenPort();
    ChangePPPStatus(kPPPIdle, "dialling");
    if (status == kStatusOK)
        status = SetTmpAccessPoint();
    if (status == kStatusOK)
        status = SetTmpUserName();
    if (status == kStatusOK)
        status = SetTmpPassword();
    if (status == kStatusOK) {
        SetAlertDisable();
        status = mEndpoint->Dial();
    }
    return status;
}

OSStatus CPPPControl::Disconnect()
{
    if (mPortStatus != kPortOpen) {
        OSStatus err = OpenPort();
        if (err != kStatusOK)
            return err;
    }
    return mEndpoint ? mEndpoint->HangUp() : kStatusBadParam;
}

OSStatus CPPPControl::CancelCommand()
{
    if (mPPPStatus == kPPPConnectComplete && mEndpoint)
        mEndpoint->HangUp();
    return kStatusOK;
}

bool CPPPControl::GetPortName(char* portName, char* deviceName)
{
    Transport& transport = CurrentTransport();
    PortRecord record;
    for (uint32_t index = 0; transport.GetIndexedPort(record, index); ++index) {
        record.moduleName[sizeof record.moduleName - 1] = 0;
        record.name[sizeof record.name - 1] = 0;
        // The one card-port rule, the same the port reader and kavanti-ctl apply.
        KPorts::PortRecord port;
        port.portName = record.name;
        port.moduleName = record.moduleName;
        port.deviceType = transport.GetDeviceType(record.ref) & 0xFFFF;
        port.infoFlags = record.infoFlags;
        if (!KPorts::PortIsCardPort(port))
            continue;
        if (portName)
            CopyCut(portName, kPortNameSize, record.name);
        if (deviceName)
            CopyCut(deviceName, kDeviceNameSize, record.moduleName);
        return true;
    }
    return false;
}

OSStatus CPPPControl::SetOption(uint32_t name, const void* value, size_t valueSize, size_t fieldSize)
{
    const uint32_t length = static_cast<uint32_t>(kOptionHeaderSize + fieldSize);
    std::vector<uint8_t> buffer(length, 0);
    OptionHeader header{length, kOptionLevelPPP, name, 0};
    std::memcpy(buffer.data(), &header, sizeof header);
    std::memcpy(buffer.data() + kOptionHeaderSize, value, valueSize < fieldSize ? valueSize : fieldSize);
    OptionRequest request{length, length, buffer.data(), kOptionNegotiate};

    OSStatus err;
    do {
        err = mEndpoint ? mEndpoint->OptionManagement(request) : kStatusBadParam;
    } while (err == kStatusStateChange);
    if (err == kStatusOK) {
        std::memcpy(&header, buffer.data(), sizeof header);
        err = header.status == kOptionSuccess ? kStatusOK : static_cast<OSStatus>(header.status);
    }
    // The password must not outlive the call in this buffer.
    std::memset(buffer.data(), 0, buffer.size());
    return err;
}

OSStatus CPPPControl::SetTextOption(uint32_t name, const char* text, size_t fieldSize)
{
    // With no access point every account option is left to the configured peer.
    if (mTmpAccessPoint[0] == 0)
        return kStatusOK;
    return SetOption(name, text, strnlen(text, fieldSize - 1) + 1, fieldSize);
}

OSStatus CPPPControl::SetTmpAccessPoint()
{
    return SetTextOption(kOptionAccessPoint, mTmpAccessPoint, sizeof mTmpAccessPoint);
}

OSStatus CPPPControl::SetTmpUserName()
{
    return SetTextOption(kOptionUserName, mTmpUserName, sizeof mTmpUserName);
}

OSStatus CPPPControl::SetTmpPassword()
{
    return SetTextOption(kOptionPassword, mTmpPassword, sizeof mTmpPassword);
}

OSStatus CPPPControl::SetAlertDisable()
{
    const uint32_t none = 0;
    return SetOption(kOptionAlerts, &none, sizeof none, sizeof none);
}

void CPPPControl::EndpointNotifier(void* /*context*/, uint32_t code, int32_t result, uint32_t cookie)
{
    const long error = static_cast<int32_t>(cookie);
    switch (code) {
    case kEventOpenComplete:
    case kEventIoctlComplete:
        if (result != 0)
            Report(kStatusFailure, result, code == kEventOpenComplete ? "open failed" : "call failed");
        break;
    case kEventConnectComplete:
        if (error != 0) {
            Report(kStatusFailure, error, "connect failed");
        } else {
            ChangePPPStatus(kPPPConnectComplete, "connect complete");
            Report(kStatusConnectComplete, 0, "connect complete");
        }
        break;
    case kEventDisconnectComplete:
        // A dial cancelled after connect complete ends on idle; a link that was up, on hung up.
        if (mPPPStatus == kPPPConnectComplete) {
            Report(kStatusLinkDown, error, "dial cancelled");
        } else {
            ChangePPPStatus(kPPPHungUp, "disconnect complete");
            Report(kStatusHungUp, error, "disconnect complete");
        }
        break;
    case kEventIPCPUp:
        if (error != 0) {
            Report(kStatusFailure, error, "IPCP failed");
        } else {
            ChangePPPStatus(kPPPIPUp, "IPCP up");
            Report(kStatusConnected, 0, "IPCP up");
        }
        break;
    case kEventLCPDown:
        Report(error != 0 ? kStatusFailure : kStatusLinkDown, error, "LCP down");
        ChangePPPStatus(kPPPIdle, "LCP down");
        break;
    case kEventAuthStarted:
        Report(error != 0 ? kStatusFailure : kStatusAuthenticating, error, "authentication started");
        break;
    case kEventAuthFinished:
        if (error != 0)
            Report(kStatusFailure, error, "authentication failed");
        break;
    case kEventModemInitFinished:
        Report(error != 0 ? kStatusFailure : kStatusModemInitialised, error, "modem script done");
        break;
    default:
        break;
    }
}
