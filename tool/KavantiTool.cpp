// KavantiTool: writes the network location for the data card into the network preferences
// store and makes it current, in one locked transaction that is written and applied once, at
// the final close. Run with administrator rights by the application; its only answer is the
// exit status.
//
//   KavantiTool -n|-c|-a PORT LOCATION NUMBER ACCOUNT PASSWORD PROXY PROXYPORT SCRIPT
//   KavantiTool -s LOCATION
//
// A PASSWORD of "-" is read from standard input, so that it never shows in a process listing:
// the tool first writes the line "ready" on standard output, so that the caller hands the
// password over only once sudo has let the tool run, then reads one line.
//
// Arguments are UTF-8. One that is not, or that holds a control character, changes nothing:
// the tool exits with -50 and names it. Every failure is explained in one line on standard
// error besides the debug lines.
#include "NetSCF/NetSCFAccess.h"
#include "NetSCF/NetSCFCreate.h"
#include "NetSCF/NetSCFEntities.h"
#include "NetSCF/NetSCFPortScanner.h"
#include "NetSCF/NetSCFServices.h"
#include "NetSCF/NetSCFSets.h"
#include "NetSCF/NetSCFValue.h"
#include "platform/cf/PText.h"
#include "platform/paths/KPaths.h"
#include "platform/ppp/KPPPPeerFile.h"
#include "platform/store/SCPreferences.h"

#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <unistd.h>

namespace {

// The run's settings, built from the command line before the store is touched.
PRef<PString> userVisibleName;
PRef<PString> portName;
NetSCModemDigest modemSettings;
NetSCPPPOptions pppOptions;
NetSCDigest pppSettings;
NetSCDigest proxySettings;
// The strings the digests point to (digests do not own their strings).
PRef<PString> gConnectionScript, gAuthName, gAuthPassword, gCommRemoteAddress, gHttpProxy;

void Debug(const char* message)
{
    std::fprintf(stderr, "%s\n", message);
}

// Arguments were checked before (CheckArguments): every one makes a string.
PRef<PString> ArgString(std::string_view arg)
{
    return PString::Create(arg);
}

// What each argument of the long form is, for messages.
const char* const kArgumentNames[] = {"", "ACTION", "PORT", "LOCATION", "NUMBER", "ACCOUNT",
                                      "PASSWORD", "PROXY", "PROXYPORT", "SCRIPT"};

const char* CheckProblem(std::string_view text)
{
    switch (PTextCheckUTF8(text)) {
    case PTextCheck::Ok: return nullptr;
    case PTextCheck::InvalidUTF8: return "is not valid UTF-8";
    case PTextCheck::ControlCharacter: return "holds a control character";
    }
    return "is not acceptable";
}

// The arguments the action reads, checked before anything is touched; false after a message.
// The action itself is left to the action switch (an unknown one is answered there).
bool CheckArguments(int argc, char** argv, bool shortForm)
{
    const int last = shortForm ? 2 : 9;
    for (int i = 2; i <= last && i < argc; ++i) {
        if (!shortForm && i == 6 && std::strcmp(argv[i], "-") == 0) continue; // read later
        if (const char* problem = CheckProblem(argv[i])) {
            std::fprintf(stderr, "KavantiTool: argument %d (%s) %s; nothing was changed\n", i,
                         shortForm ? "LOCATION" : kArgumentNames[i], problem);
            return false;
        }
    }
    return true;
}

// The password handed over on standard input, asked for with the line "ready": up to the end of
// the line ("\n" or "\r", as sudo ends one) or of the input.
std::string ReadPasswordFromStdin()
{
    static const char kReady[] = "ready\n";
    std::fflush(stdout);
    for (const char* p = kReady; *p;) {
        const ssize_t n = write(STDOUT_FILENO, p, std::strlen(p));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        p += n;
    }
    std::string password;
    char c;
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n == 1) {
            if (c == '\n' || c == '\r') break;
            password += c;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    return password;
}

bool IsShortForm(const char* action) { return std::strcmp(action, "-s") == 0; }

char ActionLetter(const char* action) { return action[0] ? action[1] : '\0'; }

// False (after a message) when the password on standard input is not acceptable text.
bool SetupGlobals(char** argv)
{
    const bool shortForm = IsShortForm(argv[1]);
    if (shortForm) {
        userVisibleName = ArgString(argv[2]);
        return true;
    }
    userVisibleName = ArgString(argv[3]);
    portName = ArgString(argv[2]);

    gConnectionScript = ArgString(argv[9]);
    modemSettings = kNetSCModemDigestDefault;
    modemSettings.connectionScript = gConnectionScript.get();

    pppOptions = kNetSCPPPOptionsDefault;
    pppOptions.lcpEchoEnabled = false;

    gAuthName = ArgString(argv[5]);
    if (std::strcmp(argv[6], "-") == 0) {
        std::string password = ReadPasswordFromStdin();
        const char* problem = CheckProblem(password);
        if (!problem) gAuthPassword = ArgString(password);
        std::fill(password.begin(), password.end(), '\0');
        if (problem) {
            std::fprintf(stderr, "KavantiTool: the password on standard input (PASSWORD \"-\") %s; nothing was changed\n",
                         problem);
            return false;
        }
    } else {
        gAuthPassword = ArgString(argv[6]);
    }
    gCommRemoteAddress = ArgString(argv[4]);
    pppSettings = NetSCDigest();
    pppSettings.ppp.active = true;
    pppSettings.ppp.authName = gAuthName.get();
    pppSettings.ppp.authPassword = gAuthPassword.get();
    pppSettings.ppp.commRemoteAddress = gCommRemoteAddress.get();
    pppSettings.ppp.options = &pppOptions;

    proxySettings = NetSCDigest();
    if (std::strcmp(argv[7], "NULL") == 0) {
        proxySettings.proxies.httpEnable = false;
    } else {
        gHttpProxy = ArgString(argv[7]);
        proxySettings.proxies.httpEnable = true;
        proxySettings.proxies.httpProxy = gHttpProxy.get();
        // As atoi reads it, keeping the low 16 bits.
        const int port = static_cast<int>(std::strtol(argv[8], nullptr, 10));
        proxySettings.proxies.httpPort = static_cast<uint16_t>(static_cast<unsigned>(port) & 0xFFFFu);
    }
    return true;
}

void CleanupGlobals(char** argv)
{
    userVisibleName = nullptr;
    if (IsShortForm(argv[1])) return;
    portName = nullptr;
    modemSettings.connectionScript = nullptr;
    pppSettings = NetSCDigest();
    proxySettings = NetSCDigest();
    gConnectionScript = gAuthName = gAuthPassword = gCommRemoteAddress = gHttpProxy = nullptr;
}

bool IsCardPort(const PString* bsdName) { return portName && bsdName && bsdName->UTF8() == portName->UTF8(); }

OSStatus SetupEntity(const PString* setID, const PString* serviceID, const char* protocol, const NetSCDigest* digest)
{
    NetSCAssert(setID != nullptr);
    NetSCAssert(serviceID != nullptr);
    NetSCAssert(protocol != nullptr);
    NetSCDigest zero;
    if (!digest) digest = &zero;
    auto proto = PStr(protocol);
    PRef<PDictionary> entity;
    OSStatus err = NetSCCreateEntity(proto.get(), digest, entity);
    if (err == kStatusOK) err = NetSCSetEntity(setID, serviceID, proto.get(), entity.get());
    return err;
}

// The card service's three entities, complete, as a new location gets them.
OSStatus SetupCardService(const PString* setID, const PString* serviceID)
{
    NetSCDigest modem;
    modem.modem = modemSettings;
    OSStatus err = SetupEntity(setID, serviceID, "PPP", &pppSettings);
    if (err == kStatusOK) err = SetupEntity(setID, serviceID, "Modem", &modem);
    if (err == kStatusOK) err = SetupEntity(setID, serviceID, "Proxies", &proxySettings);
    return err;
}

void UpdatePPP(PDictionary& ioEntity)
{
    if (pppSettings.ppp.authName) ioEntity.Set("AuthName", gAuthName);
    if (pppSettings.ppp.commRemoteAddress) ioEntity.Set("CommRemoteAddress", gCommRemoteAddress);
    if (pppSettings.ppp.authPassword) {
        PRef<PData> encoded;
        if (NetSCFCopyEncodedPPPPassword(*gAuthPassword, encoded) == kStatusOK) ioEntity.Set("AuthPassword", encoded);
    }
}

void UpdateModem(PDictionary& ioEntity)
{
    if (modemSettings.connectionScript) ioEntity.Set("ConnectionScript", gConnectionScript);
}

void UpdateProxy(PDictionary& ioEntity)
{
    const NetSCProxiesDigest& p = proxySettings.proxies;
    if (CFXDictionarySetNumber(ioEntity, *PStr("HTTPEnable"), p.httpEnable ? 1 : 0) != kStatusOK) return;
    ioEntity.Remove("HTTPProxy");
    ioEntity.Remove("HTTPPort");
    if (p.httpEnable) {
        if (p.httpProxy) ioEntity.Set("HTTPProxy", gHttpProxy);
        if (p.httpPort != 0) CFXDictionarySetNumber(ioEntity, *PStr("HTTPPort"), p.httpPort);
    }
}

OSStatus MakeNewSetting(PRef<PString>* outNewSetID)
{
    OSStatus err = NetSCOpen(false, false);
    PRef<PString> setID;
    PRef<PArray> serviceIDs;
    if (err == kStatusOK) err = NetSCNewSet(userVisibleName.get(), &setID);
    if (err == kStatusOK) err = NetSCCopyServiceIDs(setID.get(), &serviceIDs, nullptr);
    for (size_t i = 0; err == kStatusOK && i < serviceIDs->Count(); ++i) {
        const PString* serviceID = serviceIDs->AtAs<PString>(i);
        PRef<PString> bsdName;
        err = NetSCCopyBSDNameOfService(setID.get(), serviceID, bsdName);
        if (err != kStatusOK) break;
        if (IsCardPort(bsdName.get())) err = SetupCardService(setID.get(), serviceID);
        else err = NetSCSetServiceActive(setID.get(), serviceID, false);
    }
    if (err != kStatusOK && setID) {
        (void)NetSCDeleteSet(setID.get());
        setID = nullptr;
    }
    NetSCClose(&err, true);
    if (outNewSetID) *outNewSetID = setID;
    NetSCAssert((err == kStatusOK) == ((outNewSetID == nullptr) || !outNewSetID->empty()));
    return err;
}

OSStatus UpdateSetting(const PString* setID, bool* notFound)
{
    *notFound = true;
    OSStatus err = NetSCOpen(false, false);
    PRef<PArray> serviceIDs;
    if (err == kStatusOK) err = NetSCCopyServiceIDs(setID, &serviceIDs, nullptr);
    for (size_t i = 0; err == kStatusOK && i < serviceIDs->Count(); ++i) {
        const PString* serviceID = serviceIDs->AtAs<PString>(i);
        PRef<PString> bsdName;
        err = NetSCCopyBSDNameOfService(setID, serviceID, bsdName);
        if (err != kStatusOK) break;
        if (!IsCardPort(bsdName.get())) {
            err = NetSCSetServiceActive(setID, serviceID, false);
            continue;
        }
        *notFound = false;
        struct Edit {
            const char* protocol;
            void (*update)(PDictionary&);
        } const edits[] = {{"PPP", UpdatePPP}, {"Modem", UpdateModem}, {"Proxies", UpdateProxy}};
        for (const auto& e : edits) {
            auto proto = PStr(e.protocol);
            PRef<PDictionary> entity;
            // A service without this entity simply skips it.
            if (NetSCCopyEntityMutable(setID, serviceID, proto.get(), entity) != kStatusOK) continue;
            e.update(*entity);
            (void)NetSCSetEntity(setID, serviceID, proto.get(), entity.get());
        }
        bool active = false;
        err = NetSCIsServiceActive(setID, serviceID, &active);
        if (err == kStatusOK && !active) err = NetSCSetServiceActive(setID, serviceID, true);
    }
    NetSCClose(&err, true);
    return err;
}

// "-a": the location exists without a service on the card's port. Give it one, from the port
// the scanner sees under that device name; the caller then updates it as "-c" does.
OSStatus AddCardService(const PString* setID)
{
    OSStatus err = NetSCOpen(false, false);
    PRef<PArray> serviceIDs;
    bool present = false;
    if (err == kStatusOK) err = NetSCCopyServiceIDs(setID, &serviceIDs, nullptr);
    for (size_t i = 0; err == kStatusOK && !present && i < serviceIDs->Count(); ++i) {
        PRef<PString> bsdName;
        err = NetSCCopyBSDNameOfService(setID, serviceIDs->AtAs<PString>(i), bsdName);
        if (err == kStatusOK) present = IsCardPort(bsdName.get());
    }
    PRef<PArray> ports;
    const PDictionary* port = nullptr;
    if (err == kStatusOK && !present) {
        err = NetSCCreatePortArray(ports);
        for (size_t i = 0; err == kStatusOK && !port && i < ports->Count(); ++i) {
            const PDictionary* p = ports->AtAs<PDictionary>(i);
            if (p && IsCardPort(p->GetAs<PString>("DeviceName"))) port = p;
        }
        if (err == kStatusOK && !port) err = kStatusFileNotFound; // the card is not on this machine
    }
    PRef<PString> serviceID;
    if (err == kStatusOK && port) {
        err = NetSCNewService(setID, port, &serviceID);
    }
    NetSCClose(&err, true);
    return err;
}

const char kUsageLines[] = "Usage: KavantiTool -n|-c|-a PORT LOCATION NUMBER ACCOUNT PASSWORD PROXY PROXYPORT SCRIPT\n"
                           "       KavantiTool -s LOCATION\n";

void Usage(FILE* out)
{
    std::fputs(kUsageLines, out);
    std::fprintf(out,
                 "Writes the network location LOCATION into the network preferences and makes it current.\n"
                 "  -n  create the location (one service per port; only the card's PORT stays on)\n"
                 "  -c  update the card's service of the location and switch the others off\n"
                 "  -a  add a service for PORT to the location, then update it as -c does\n"
                 "  -s  make the location current\n"
                 "PASSWORD \"-\" is read from standard input; PROXY \"NULL\" means no HTTP proxy.\n"
                 "Run by Kavanti with administrator rights; the exit status is the result (0: success).\n");
}

// The action for people, from its letter.
const char* ActionText(char letter)
{
    switch (letter) {
    case 'n': return "creating the location";
    case 'c': return "updating the location";
    case 'a': return "adding the card's service to the location";
    case 's': return "switching to the location";
    }
    return "the run";
}

// Text of an argument for a message: bytes that may not print are shown as '?'.
std::string Printable(std::string_view text)
{
    std::string out;
    for (const char c : text) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    return out;
}

// The one plain line of a failed run: what went wrong and with which file.
void ReportFailure(const char* action, OSStatus status)
{
    const char letter = ActionLetter(action);
    const std::string location = userVisibleName ? userVisibleName->UTF8() : std::string();
    const char* what = ActionText(letter);
    if (letter != 'n' && letter != 'c' && letter != 'a' && letter != 's') {
        std::fprintf(stderr, "KavantiTool: unknown action '%s' (use -n, -c, -a or -s); nothing was changed\n",
                     Printable(action).c_str());
        return;
    }
    std::string reason;
    std::string file = KPaths::StorePath();
    if (status >= kStoreStatusFailed && status <= kStoreStatusNotWritable) {
        reason = SCErrorString(status);
        if (status == kStoreStatusLocked || status == kStoreStatusLockError) file = KPaths::StoreLockPath();
    } else if (status == kStatusFileNotFound && letter == 'a') {
        reason = "the card's port '" + Printable(portName ? portName->UTF8() : "") + "' is not on this machine";
    } else if (status == kStatusFileAccess) {
        // Applying the committed store writes the peer file; the store itself reports 1003.
        reason = "the pppd peer file cannot be written";
        file = KPaths::PeerFilePath();
    } else if (status == kStatusNoMemory) {
        reason = "out of memory";
    } else if (status == kStatusBadParam) {
        reason = "the network preferences refused a value";
    } else {
        reason = "the network preferences could not be changed";
    }
    std::fprintf(stderr, "KavantiTool: %s '%s' failed: %s: %s (status %d)\n", what, Printable(location).c_str(),
                 reason.c_str(), file.c_str(), static_cast<int>(status));
}

int Run(int argc, char** argv);

} // namespace

int main(int argc, char** argv)
{
    KPaths::EnterSandboxEnvironment();
    // Whatever goes wrong, the tool ends with a status and a message, never on an exception;
    // the store is written only at the final close, so nothing was changed.
    signal(SIGPIPE, SIG_IGN); // a reader that went away is an EPIPE to handle, not our death
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("KavantiTool: out of memory; nothing was changed\n", stderr);
        std::exit(kStatusNoMemory);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "KavantiTool: internal error (%s); nothing was changed\n", e.what());
        std::exit(kStoreStatusFailed);
    } catch (...) {
        std::fputs("KavantiTool: internal error; nothing was changed\n", stderr);
        std::exit(kStoreStatusFailed);
    }
}

namespace {

int Run(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        Usage(stdout);
        return 0;
    }
    if (argc < 2 || argc < (IsShortForm(argv[1]) ? 3 : 10)) {
        std::fputs("KavantiTool: Parameter Error!!\n", stderr);
        std::fputs(kUsageLines, stderr);
        std::exit(kStatusBadParam);
    }
    if (!CheckArguments(argc, argv, IsShortForm(argv[1]))) std::exit(kStatusBadParam);

    if (!SetupGlobals(argv)) {
        CleanupGlobals(argv);
        std::exit(kStatusBadParam);
    }

    // Applying the committed store rewrites the pppd peer file for the current location.
    KPPP::InstallPeerFileApplyHook();
    NetSCSetClient(PStr("KavantiTool").get());
    OSStatus status = NetSCOpen(true, true);
    bool commit = false;
    PRef<PString> setID;
    if (status == kStatusOK) {
        status = NetSCFindSetByUserVisibleNameAndCopyID(userVisibleName.get(), setID);
        switch (ActionLetter(argv[1])) {
        case 'n':
            Debug("KavantiTool: MakeNewSetting()");
            if (status != kStatusOK || !setID) {
                setID = nullptr;
                status = MakeNewSetting(&setID);
            }
            break;
        case 'c':
            Debug("KavantiTool: UpdateSetting()");
            if (status == kStatusOK && setID) {
                bool notFound = false;
                status = UpdateSetting(setID.get(), &notFound);
                if (notFound) Debug("KavantiTool: UpdateSetting(NotFound)");
            }
            break;
        case 'a':
            Debug("KavantiTool: AddService()");
            if (status == kStatusOK && setID) {
                status = AddCardService(setID.get());
                if (status == kStatusOK) {
                    bool notFound = false;
                    status = UpdateSetting(setID.get(), &notFound);
                    if (notFound) Debug("KavantiTool: UpdateSetting(NotFound)");
                }
            }
            break;
        case 's':
            Debug("KavantiTool: ChangeLocation()");
            break;
        default:
            Debug("KavantiTool: Command Error!!");
            status = -1;
            break;
        }

        if (status == kStatusOK && setID) {
            commit = true;
            PRef<PString> current;
            status = NetSCCopyCurrentSet(current);
            // A fresh machine has no current set yet: it differs from ours.
            if (status != kStatusOK && !SCPreferencesGetValue(gPrefsRef.get(), "CurrentSet")) status = kStatusOK;
            if (status == kStatusOK && (!current || current->UTF8() != setID->UTF8()))
                (void)NetSCSetCurrentSet(setID.get());
        }
    }
    setID = nullptr;
    NetSCClose(&status, commit);
    if (status != kStatusOK) ReportFailure(argv[1], status);
    CleanupGlobals(argv);
    std::exit(status);
}

} // namespace
