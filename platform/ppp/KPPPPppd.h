// The PPP endpoint on pppd: `pppd call kavanti` with the account options of the dial, the
// password through the passwordfd plugin's pipe and kavanti-events.so reporting pppd's phases
// over a socket. Events reach the notifier on the main thread through the Qt event loop, one
// at a time, in the order they happened.
#pragma once

#include "platform/ppp/KPPPEndpoint.h"

#include <string>
#include <string_view>
#include <vector>

namespace KPPP {

// pppd's phases as kavanti-events.so reports them.
enum PppdPhase : int {
    kPhaseDead = 0,
    kPhaseInitialize = 1,
    kPhaseSerialConn = 2,
    kPhaseDormant = 3,
    kPhaseEstablish = 4,
    kPhaseAuthenticate = 5,
    kPhaseCallback = 6,
    kPhaseNetwork = 7,
    kPhaseRunning = 8,
    kPhaseTerminate = 9,
    kPhaseDisconnect = 10,
    kPhaseHoldoff = 11,
    kPhaseMaster = 12,
};

// pppd's exit statuses that the backend itself relies on.
constexpr int kPppdExitFatal = 1;
constexpr int kPppdExitUserRequest = 5;

struct EventLine {
    enum Kind { kPhase, kAuthUp, kIPUp, kLinkDown, kExit } kind = kPhase;
    int value = 0;
};
// Parses one line of the plugin (without its newline); false for anything else.
bool ParseEventLine(std::string_view line, EventLine& out);

struct Event {
    uint32_t code = 0;
    int32_t result = 0;
    uint32_t cookie = 0;
    bool operator==(const Event&) const = default;
};

// Turns pppd's lines and its end into the endpoint's events, in an order that leaves the
// user on the expected screens (a hang-up that was asked for ends on idle).
class PppdTranslator {
public:
    std::vector<Event> OnLine(const EventLine& line);
    // exitStatus: pppd's exit status (PppdExitStatus).
    std::vector<Event> OnExit(int exitStatus, bool hangUpAsked);
    bool ConnectCompleted() const { return mConnectComplete; }

private:
    int mPhase = kPhaseDead;
    bool mModemInitReported = false;
    bool mConnectComplete = false;
    bool mDisconnectReported = false;
};

// Descriptor numbers the started program finds its pipes on.
constexpr int kPppdPasswordFd = 3;
constexpr int kPppdEventsFd = 4;

struct PppdDialSettings {
    // False when the access point is empty: the peer file's number and account stay in force.
    bool setAccount = false;
    std::string accessPoint;
    std::string userName;
};

// The program started in pppd's place: $KAVANTI_PPPD, else /usr/sbin/pppd.
std::string PppdProgram();
// argv for a dial: only options a member of group dip may give; never the password.
std::vector<std::string> PppdArguments(const std::string& program, const PppdDialSettings& settings);
// Environment variable the connect line reads the number from.
constexpr const char* kNumberVariable = "KAVANTI_NUMBER";

// pppd's exit status from a wait status: a program killed by a signal after a hang-up was
// asked for counts as ended at the user's request, any other signal as a fatal error.
int PppdExitStatus(int waitStatus, bool hangUpAsked);
// An errno value as a status code.
OSStatus StatusFromErrno(int err);

// How long a hang-up waits after SIGTERM before it sends SIGKILL (5 seconds; tests shorten it).
int HangUpBoundMs();
void SetHangUpBoundMs(int ms);

// The pppd transport (the default one of CurrentTransport).
Transport& PppdTransport();

} // namespace KPPP
