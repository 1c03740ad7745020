// The PPP endpoint on pppd: `pppd call kavanti` with the account options of the dial, the
// password through the passwordfd plugin's pipe and kavanti-events.so reporting pppd's phases
// over a socket. Events reach the notifier on the main thread through the Qt event loop, one
// at a time, in the order they happened.
#pragma once

#include "platform/ppp/KPPPEndpoint.h"
#include "platform/ppp/pppd-plugin/KavantiEventLine.h"

#include <string>
#include <string_view>
#include <vector>

namespace KPPP {

// pppd's phases as kavanti-events.so reports them (numbers shared with the plugin).
enum PppdPhase : int {
    kPhaseDead = KV_PHASE_DEAD,
    kPhaseInitialize = KV_PHASE_INITIALIZE,
    kPhaseSerialConn = KV_PHASE_SERIALCONN,
    kPhaseDormant = KV_PHASE_DORMANT,
    kPhaseEstablish = KV_PHASE_ESTABLISH,
    kPhaseAuthenticate = KV_PHASE_AUTHENTICATE,
    kPhaseCallback = KV_PHASE_CALLBACK,
    kPhaseNetwork = KV_PHASE_NETWORK,
    kPhaseRunning = KV_PHASE_RUNNING,
    kPhaseTerminate = KV_PHASE_TERMINATE,
    kPhaseDisconnect = KV_PHASE_DISCONNECT,
    kPhaseHoldoff = KV_PHASE_HOLDOFF,
    kPhaseMaster = KV_PHASE_MASTER,
};

// pppd's exit statuses that the backend itself relies on.
constexpr int kPppdExitFatal = 1;
constexpr int kPppdExitUserRequest = 5;
// pppd's exit status in words, for logs and the user's failure message ("the modem hung up"
// for 16); a number pppd does not use gives "pppd ended with status N".
std::string ExitStatusText(int status);

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
