// The PPP endpoint: opening it, setting the account options, dialling, hanging up and the
// events that report the link's progress; plus the indexed list of ports. The controller sees
// only this interface; on Linux it is backed by pppd (KPPPPppd.h).
#pragma once

#include "platform/cf/KStatus.h"

#include <climits>
#include <cstdint>

namespace KPPP {

// Events handed to the notifier: (context, code, result, cookie).
enum : uint32_t {
    kEventOpenComplete = 0x20000007,       // result: the error, 0 when opened
    kEventIoctlComplete = 0x21000005,      // result: the error of an asynchronous call
    kEventConnectComplete = 0x230F0001,    // cookie: the error, 0 on success
    kEventDisconnectComplete = 0x230F0003,
    kEventIPCPUp = 0x230F0005,
    kEventLCPDown = 0x230F0008,
    kEventAuthStarted = 0x230F000B,
    kEventAuthFinished = 0x230F000C,
    kEventModemInitFinished = 0x230F000E,
};

// True for the PPP progress events (delivered only while progress events are on).
constexpr bool IsProgressEvent(uint32_t code) { return (code & 0xFFFF0000u) == 0x230F0000u; }

using Notifier = void (*)(void* context, uint32_t code, int32_t result, uint32_t cookie);

// The endpoint is changing state; the caller tries the option again.
constexpr OSStatus kStatusStateChange = -3168;
// The endpoint is in the wrong state for the call (a dial is already running).
constexpr OSStatus kStatusOutState = -3155;

// Option management. A request points at one option record: a 16-byte header followed by
// length - 16 bytes of value. Every numeric field is 32 bits in host order.
constexpr uint32_t kOptionLevelPPP = 0x50505043; // 'PPPC'
enum : uint32_t {
    kOptionAccessPoint = 0x7013, // NUL-terminated text: the number to dial
    kOptionUserName = 0x7008,    // NUL-terminated text
    kOptionPassword = 0x7009,    // NUL-terminated text
    kOptionAlerts = 0x0606,      // 32-bit flags; 0 = the platform shows no PPP alerts of its own
};
constexpr uint32_t kOptionNegotiate = 4;
// Verdicts written into the option's status.
constexpr uint32_t kOptionSuccess = 0x20;
constexpr uint32_t kOptionFailure = 0x40;
constexpr uint32_t kOptionNotSupported = 0x80;

struct OptionHeader {
    uint32_t length;
    uint32_t level;
    uint32_t name;
    uint32_t status;
};
constexpr uint32_t kOptionHeaderSize = sizeof(OptionHeader);
static_assert(kOptionHeaderSize == 16);

struct OptionRequest {
    uint32_t maxLength; // bytes available at buffer
    uint32_t length;    // bytes of the option record
    uint8_t* buffer;    // the option record; the verdict is written back into it
    uint32_t flags;     // kOptionNegotiate
};

// One entry of the platform's port list.
struct PortRecord {
    uint32_t ref = 0;
    uint32_t infoFlags = 0; // kPortIsAlias marks an alias of another port
    // NUL-terminated. The port name is the device's path, which below a sandbox root is longer
    // than a tty name, hence the larger field.
    char name[PATH_MAX] = {}; // e.g. "/dev/ttyUSB0", or any longer device path
    char moduleName[32] = {}; // e.g. "pccard-modem"
};
constexpr uint32_t kPortIsAlias = 0x80000000u;
constexpr uint16_t kDeviceTypeSerial = 9;

class Endpoint {
public:
    virtual ~Endpoint() = default;
    virtual OSStatus InstallNotifier(Notifier notifier, void* context) = 0;
    virtual void RemoveNotifier() = 0;
    virtual OSStatus SetAsynchronous() = 0;
    virtual OSStatus SetNonBlocking() = 0;
    // PPP progress events on or off; completion events are always delivered.
    virtual OSStatus SetProgressEvents(bool on) = 0;
    // Sets the option in request.buffer and writes the verdict into its status.
    virtual OSStatus OptionManagement(OptionRequest& request) = 0;
    // Starts a dial; 0 means started, the outcome arrives as events.
    virtual OSStatus Dial() = 0;
    // Starts a hang-up of the link (or of the dial in progress).
    virtual OSStatus HangUp() = 0;
};

class Transport {
public:
    virtual ~Transport() = default;
    virtual OSStatus Init() = 0;
    // Closes every endpoint this transport opened.
    virtual void Close() = 0;
    // An endpoint owned by the transport (valid until Close), or null with *error set.
    virtual Endpoint* OpenEndpoint(OSStatus* error) = 0;
    // False past the last port.
    virtual bool GetIndexedPort(PortRecord& record, uint32_t index) = 0;
    virtual uint16_t GetDeviceType(uint32_t portRef) = 0;
};

// The transport the application uses: pppd unless another was installed (tests only).
Transport& CurrentTransport();
// Installs another transport; null returns to pppd. The caller keeps ownership.
void SetTransport(Transport* transport);

} // namespace KPPP
