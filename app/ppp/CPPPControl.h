// The PPP controller: opens the PPP endpoint, dials with the account of the dial-up panel,
// hangs up, cancels, finds the card's port, and turns the endpoint's events into dial-up
// statuses for the application. One instance, owned by the application and never deleted.
#pragma once

#include "platform/cf/KStatus.h"
#include "platform/ppp/KPPPEndpoint.h"

#include <cstddef>
#include <cstdint>

// Whoever receives the dial-up statuses: the application object. The controller sits below the
// application core, so it knows the application only through this interface.
class CDialupStatusSink {
public:
    virtual void SetDialupStatus(short status, long error) = 0;

protected:
    ~CDialupStatusSink() = default;
};

class CPPPControl {
public:
    enum PortStatus : int32_t { kPortTransportFailed = 0, kPortClosed = 1, kPortOpen = 2 };
    enum PPPStatus : int32_t { kPPPIdle = 1, kPPPConnectComplete = 2, kPPPIPUp = 3, kPPPHungUp = 4 };

    // Field sizes, terminator included.
    static constexpr size_t kAccessPointSize = 127;
    static constexpr size_t kUserNameSize = 255;
    static constexpr size_t kPasswordSize = 255;
    // The port name is the card's device path (longer than a tty name below a sandbox root).
    static constexpr size_t kPortNameSize = sizeof(KPPP::PortRecord::name);
    static constexpr size_t kDeviceNameSize = 32;

    // Statuses reported to the application.
    enum DialupStatus : short {
        kStatusLinkDown = 0,
        kStatusConnected = 2,
        kStatusConnectComplete = 3,
        kStatusModemInitialised = 4,
        kStatusAuthenticating = 6,
        kStatusHungUp = 7,
        kStatusFailure = 9,
        kStatusEndpointFailed = 11,
    };
    // The names of the statuses, for logs.
    static const char* PPPStatusName(int32_t status);
    static const char* DialupStatusName(short status);

    explicit CPPPControl(CDialupStatusSink* appMain);

    virtual OSStatus OpenPort();
    virtual void ClosePort();
    // Dials again with the values kept from the last dial (the redial timer's call).
    virtual OSStatus Connect();
    virtual OSStatus Disconnect();

    // Keeps the three values (each cut to its field) and dials; 0 means the dial started.
    OSStatus Connect(const char* accessPoint, const char* userName, const char* password);
    // Breaks off a dial that has reached connect complete; always 0.
    OSStatus CancelCommand();
    // The first serial, non-alias port whose module name holds "pccard-modem" or
    // "usbmodemSlipper": its name into portName (kPortNameSize bytes) and its module name into
    // deviceName (kDeviceNameSize bytes), each only when given.
    bool GetPortName(char* portName, char* deviceName);

    OSStatus SetTmpAccessPoint();
    OSStatus SetTmpUserName();
    OSStatus SetTmpPassword();
    OSStatus SetAlertDisable();

    static void SetPPPStatus(int32_t status) { ChangePPPStatus(PPPStatus(status), "set from outside"); }
    static int32_t GetPPPStatus() { return mPPPStatus; }
    static int32_t GetPortStatus() { return mPortStatus; }

    static void EndpointNotifier(void* context, uint32_t code, int32_t result, uint32_t cookie);

private:
    OSStatus SetOption(uint32_t name, const void* value, size_t valueSize, size_t fieldSize);
    OSStatus SetTextOption(uint32_t name, const char* text, size_t fieldSize);
    static void Report(DialupStatus status, long error, const char* why);
    // The one place the PPP status changes; logs "old → new (why)".
    static void ChangePPPStatus(PPPStatus to, const char* why);

    char mTmpAccessPoint[kAccessPointSize] = {};
    char mTmpUserName[kUserNameSize] = {};
    char mTmpPassword[kPasswordSize] = {};
    KPPP::Endpoint* mEndpoint = nullptr;

    static CDialupStatusSink* mAppMain;
    static int32_t mPortStatus;
    static int32_t mPPPStatus;
};
