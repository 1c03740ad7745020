// kavanti-cardsim: a PHS data card answering AT commands on a pseudo-terminal.
#include "platform/paths/KPaths.h"
#include "sim/cardsim/CardSimConfig.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

std::string Upper(std::string s)
{
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool Matches(const std::vector<std::string>& patterns, const std::string& line)
{
    const std::string u = Upper(line);
    for (const auto& p : patterns) {
        const std::string up = Upper(p);
        if (!up.empty() && up.back() == '*') {
            if (u.compare(0, up.size() - 1, up, 0, up.size() - 1) == 0) return true;
        } else if (u == up) {
            return true;
        }
    }
    return false;
}

class CardSim {
public:
    CardSim(CardSimConfig cfg, int master) : mCfg(std::move(cfg)), mMaster(master) { Reset(); }

    // Runs until a signal or the card vanishes.
    void Run()
    {
        while (!gStop) {
            pollfd p{mMaster, POLLIN, 0};
            const int r = poll(&p, 1, 200);
            if (r < 0 && errno != EINTR) break;
            if (r <= 0) continue;
            if (p.revents & POLLHUP) {
                // Nobody has the slave open: no event tells us when someone opens it, so
                // look again shortly.
                if (mSlaveOpen) SlaveClosed();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            mSlaveOpen = true;
            char buf[512];
            const ssize_t n = read(mMaster, buf, sizeof buf);
            if (n < 0) {
                if (errno == EIO) {
                    if (mSlaveOpen) SlaveClosed();
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                continue;
            }
            for (ssize_t i = 0; i < n && !mGone; ++i) Input(buf[i]);
            if (mGone) return;
        }
    }

private:
    void Reset()
    {
        mEcho = mCfg.echo && !mCfg.noEcho;
        mVerbose = true;
        mQuiet = false;
        mRegs.clear();
    }

    void Log(const std::string& s)
    {
        if (mCfg.log.empty()) return;
        if (FILE* f = std::fopen(mCfg.log.c_str(), "a")) {
            std::fprintf(f, "%s\n", s.c_str());
            std::fclose(f);
        }
    }

    void SlaveClosed()
    {
        mSlaveOpen = false;
        mLine.clear();
        mPlus = 0;
        if (mCallUp) {
            mCallUp = false;
            mOnline = false;
            Log("-- hang-up (line closed)");
        }
    }

    void Send(const std::string& s)
    {
        if (s.empty()) return;
        const size_t piece = mCfg.pieceSize > 0 ? size_t(mCfg.pieceSize) : s.size();
        for (size_t off = 0; off < s.size(); off += piece) {
            if (off > 0 && mCfg.pieceGapMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(mCfg.pieceGapMs));
            const std::string part = s.substr(off, piece);
            size_t done = 0;
            while (done < part.size()) {
                const ssize_t w = write(mMaster, part.data() + done, part.size() - done);
                if (w < 0) {
                    if (errno == EINTR) continue;
                    return; // the slave went away; the reply is lost as on a real line
                }
                done += size_t(w);
            }
        }
    }

    void Pause(int ms)
    {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }

    std::string Result(const char* word, int code)
    {
        if (mQuiet) return "";
        if (!mVerbose) return std::to_string(code) + "\r";
        return std::string("\r\n") + word + "\r\n";
    }

    void Input(char c)
    {
        if (mOnline) {
            DataByte(c);
            return;
        }
        if (c == '\n') return;
        if (c != '\r') {
            if (mLine.size() < 1024) mLine += c;
            return;
        }
        std::string line = mLine;
        mLine.clear();
        Command(line);
    }

    // In data mode: "+++" leaves it; an AUTH line checks the account; the rest is dropped.
    void DataByte(char c)
    {
        mPlus = (c == '+') ? mPlus + 1 : 0;
        if (mPlus == 3) {
            mPlus = 0;
            mOnline = false;
            mLine.clear();
            Log("-- +++");
            Send(Result("OK", 0));
            return;
        }
        if (c == '\r' || c == '\n') {
            const std::string line = mLine;
            mLine.clear();
            if (line.rfind("AUTH ", 0) == 0) {
                const std::string rest = line.substr(5);
                const auto sp = rest.find(' ');
                const bool ok = sp != std::string::npos && rest.substr(0, sp) == mCfg.user &&
                                rest.substr(sp + 1) == mCfg.password;
                Log("-- AUTH " + std::string(ok ? "OK" : "FAILED"));
                Send(ok ? "AUTH OK\r\n" : "AUTH FAILED\r\n");
            }
            return;
        }
        if (mLine.size() < 1024) mLine += c;
    }

    void Command(const std::string& raw)
    {
        // Trim spaces; lines that are not AT commands are noise on the line.
        std::string line = raw;
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        line = start == std::string::npos ? "" : line.substr(start);
        if (line.size() < 2 || Upper(line.substr(0, 2)) != "AT") return;

        Log(line);
        ++mCommandCount;
        if (mCfg.vanishAfter > 0 && mCommandCount >= mCfg.vanishAfter) {
            Log("-- vanished");
            mGone = true;
            return;
        }
        if (mCfg.silent || Matches(mCfg.silentCommands, line)) return;

        // Echo as the card would have echoed the characters while they arrived.
        if (mEcho) Send(line + "\r");
        Pause(mCfg.delayMs);

        if (Matches(mCfg.errorCommands, line)) {
            Send(Result("ERROR", 4));
            return;
        }
        std::string body;
        const std::string result = Execute(line, body);
        Send(body + result);
    }

    // Carries out a command line; `body` receives the information lines. Returns the final
    // result (already formatted).
    std::string Execute(const std::string& line, std::string& body)
    {
        const std::string u = Upper(line);
        auto info = [&](const std::string& text) {
            if (mQuiet) return;
            body += "\r\n" + text + "\r\n";
        };
        if (u == "AT@@LNK") {
            info(mCfg.channel);
            return Result("OK", 0);
        }
        if (u == "AT@@LVL") {
            const std::string count =
                mCfg.levelCount.empty() ? std::to_string(mCfg.levels.size()) : mCfg.levelCount;
            info(count + "\r\n" + mCfg.levels);
            return Result("OK", 0);
        }

        size_t i = 2;
        auto digits = [&](int dflt) {
            if (i >= u.size() || !std::isdigit(static_cast<unsigned char>(u[i]))) return dflt;
            int v = 0;
            while (i < u.size() && std::isdigit(static_cast<unsigned char>(u[i]))) v = v * 10 + (u[i++] - '0');
            return v;
        };
        while (i < u.size()) {
            const char c = u[i++];
            switch (c) {
            case ' ': break;
            case 'E': {
                const int v = digits(0);
                if (v > 1) return Result("ERROR", 4);
                mEcho = v == 1 && !mCfg.noEcho;
                break;
            }
            case 'V': mVerbose = digits(0) == 1; break;
            case 'Q': mQuiet = digits(0) == 1; break;
            case 'X': case 'M': case 'L': case 'B': case 'N': case 'W': case 'Y': case 'P': case 'T':
                digits(0);
                break;
            case 'Z': digits(0); Reset(); break;
            case 'H':
                digits(0);
                if (mCallUp) Log("-- hang-up (ATH)");
                mCallUp = false;
                mOnline = false;
                break;
            case 'O':
                digits(0);
                if (!mCallUp) return Result("NO CARRIER", 3);
                mOnline = true;
                return ConnectLine();
            case 'I': {
                const int v = digits(0);
                if (v == 0 || v == 4) info(mCfg.model);
                else if (v == 5) info(mCfg.firmware);
                else if (v == 6) info(mCfg.number);
                else if (v >= 1 && v <= 3) info(mCfg.maker + " " + mCfg.model);
                else return Result("ERROR", 4);
                break;
            }
            case 'S': {
                const int reg = digits(-1);
                if (reg < 0 || reg > 255 || i >= u.size()) return Result("ERROR", 4);
                if (u[i] == '=') {
                    ++i;
                    mRegs[reg] = digits(0);
                } else if (u[i] == '?') {
                    ++i;
                    char v[8];
                    std::snprintf(v, sizeof v, "%03d", mRegs.count(reg) ? mRegs[reg] : 0);
                    info(v);
                } else {
                    return Result("ERROR", 4);
                }
                break;
            }
            case '&': case '\\': case '%': {
                if (i >= u.size() || !std::isalpha(static_cast<unsigned char>(u[i]))) return Result("ERROR", 4);
                const char what = u[i++];
                digits(0);
                if (c == '&' && what == 'F') Reset();
                break;
            }
            case '+': {
                size_t end = u.find(';', i);
                if (end == std::string::npos) end = u.size();
                const std::string ext = u.substr(i, end - i);
                i = end < u.size() ? end + 1 : end;
                const std::string name = ext.substr(0, ext.find_first_of("=?"));
                if (name == "FCLASS") {
                    if (ext == "FCLASS=?") info("0");
                    else if (ext == "FCLASS?") info("0");
                    else if (ext != "FCLASS=0") return Result("ERROR", 4);
                } else if (name == "GCAP") {
                    info("+GCAP: +FCLASS");
                } else if (name == "GMI" || name == "CGMI") {
                    info(mCfg.maker);
                } else if (name == "GMM" || name == "CGMM") {
                    info(mCfg.model);
                } else if (name == "GMR" || name == "CGMR") {
                    info(mCfg.firmware);
                } else {
                    return Result("ERROR", 4);
                }
                break;
            }
            case 'D': return Dial(line.substr(i));
            default: return Result("ERROR", 4);
            }
        }
        return Result("OK", 0);
    }

    std::string ConnectLine()
    {
        if (!mCfg.connectText.empty()) return mQuiet ? "" : "\r\n" + mCfg.connectText + "\r\n";
        if (mMode == "64") return Result("CONNECT 64000", 1);
        if (mMode == "61") return Result("CONNECT 32000", 1);
        return Result("CONNECT", 1);
    }

    std::string Dial(std::string number)
    {
        // "T" or "P" in front of the number only say how to dial.
        number.erase(std::remove(number.begin(), number.end(), ' '), number.end());
        if (!number.empty() && (std::toupper(static_cast<unsigned char>(number[0])) == 'T' ||
                                std::toupper(static_cast<unsigned char>(number[0])) == 'P'))
            number.erase(0, 1);
        if (mCallUp) return Result("ERROR", 4);
        std::string mode;
        if (const auto hash = number.find("##"); hash != std::string::npos) mode = number.substr(hash + 2);
        Log("-- dial " + number + (mode.empty() ? "" : " mode " + mode));
        if (number.empty()) return Result("ERROR", 4);
        Pause(mCfg.connectDelayMs);
        if (!mode.empty() && std::find(mCfg.modes.begin(), mCfg.modes.end(), mode) == mCfg.modes.end())
            return Result("NO CARRIER", 3);
        const std::string& r = mCfg.dialResult;
        if (r == "busy") return Result("BUSY", 7);
        if (r == "no-carrier") return Result("NO CARRIER", 3);
        if (r == "no-answer") return Result("NO ANSWER", 8);
        if (r == "no-dialtone") return Result("NO DIALTONE", 6);
        if (r == "error") return Result("ERROR", 4);
        mMode = mode;
        mCallUp = true;
        mOnline = true;
        mPlus = 0;
        Log("-- connected");
        return ConnectLine();
    }

    CardSimConfig mCfg;
    int mMaster;
    bool mSlaveOpen = false;
    bool mEcho = false, mVerbose = true, mQuiet = false;
    bool mCallUp = false, mOnline = false, mGone = false;
    int mPlus = 0;
    int mCommandCount = 0;
    std::string mMode;
    std::string mLine;
    std::map<int, int> mRegs;
};

int Usage(const std::string& why)
{
    std::fprintf(stderr, "kavanti-cardsim: %s\nUsage: kavanti-cardsim [OPTIONS] (see kavanti-cardsim --help)\n",
                 why.c_str());
    return 2;
}

} // namespace

int Main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN); // a reader that went away is an EPIPE to handle, not our death
    CardSimConfig cfg;
    std::string error;
    bool dump = false;

    // The config file first, so the command line can override any of it.
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string path;
        if (a == "--config" && i + 1 < argc) path = argv[i + 1];
        else if (a.rfind("--config=", 0) == 0) path = a.substr(9);
        else continue;
        if (!CardSimReadConfig(cfg, path, error)) {
            std::fprintf(stderr, "kavanti-cardsim: %s\n", error.c_str());
            return 1;
        }
    }
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(CardSimHelp(), stdout);
            return 0;
        }
        if (a == "--dump-config") {
            dump = true;
            continue;
        }
        if (a.rfind("--", 0) != 0) return Usage("unexpected argument '" + a + "'");
        std::string key = a.substr(2), value;
        const auto eq = key.find('=');
        const bool hasValue = eq != std::string::npos;
        if (hasValue) {
            value = key.substr(eq + 1);
            key = key.substr(0, eq);
        }
        if (key != "config" && !CardSimIsSetting(key)) return Usage("unknown setting '" + key + "'");
        if (!hasValue && !CardSimIsFlag(key)) {
            if (i + 1 >= argc) return Usage("'--" + key + "' needs a value");
            value = argv[++i];
        }
        if (key == "config") continue;
        if (!CardSimSet(cfg, key, value, error)) return Usage(error);
    }
    if (dump) {
        std::fputs(CardSimDumpConfig(cfg).c_str(), stdout);
        return 0;
    }

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::fprintf(stderr, "kavanti-cardsim: cannot make a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string slave = ptsname(master);
    {
        // A fresh pseudo-terminal cooks its input and echoes it back to us; a card's line is
        // raw. Its users set their own modes, but a plain `chat` on the slave does not.
        const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        if (fd >= 0 && tcgetattr(fd, &t) == 0) {
            cfmakeraw(&t);
            cfsetspeed(&t, B115200);
            tcsetattr(fd, TCSANOW, &t);
        }
        if (fd >= 0) close(fd);
    }
    if (!cfg.link.empty()) {
        struct stat st{};
        if (lstat(cfg.link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "kavanti-cardsim: '%s' exists and is not a symlink; not replacing it\n",
                             cfg.link.c_str());
                return 1;
            }
            unlink(cfg.link.c_str());
        }
        if (symlink(slave.c_str(), cfg.link.c_str()) != 0) {
            std::fprintf(stderr, "kavanti-cardsim: cannot make the symlink '%s': %s\n", cfg.link.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    struct sigaction sa{};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", slave.c_str());
    std::fflush(stdout);

    CardSim sim(cfg, master);
    sim.Run();

    close(master);
    if (!cfg.link.empty()) {
        // Only our own link: someone may have replaced it meanwhile.
        char target[4096];
        const ssize_t n = readlink(cfg.link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, size_t(n)) == slave) unlink(cfg.link.c_str());
    }
    return 0;
}

int main(int argc, char** argv)
{
    KPaths::EnterSandboxEnvironment();
    // Whatever fails, the simulator ends with a message, never on an exception.
    try {
        return Main(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kavanti-cardsim: internal error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "kavanti-cardsim: internal error\n");
    }
    return 1;
}
