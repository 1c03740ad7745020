#include "sim/cardsim/CardSimConfig.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

bool ParseInt(const std::string& s, int& out)
{
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno || *end || v < 0 || v > 1000000) return false;
    out = int(v);
    return true;
}

bool ParseBool(const std::string& s, bool& out)
{
    if (s.empty() || s == "1" || s == "yes" || s == "true" || s == "on") return out = true, true;
    if (s == "0" || s == "no" || s == "false" || s == "off") return out = false, true;
    return false;
}

std::string Trim(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// "61, 64" is two items: blanks around an item are not part of it, empty items are dropped.
std::vector<std::string> SplitList(const std::string& s)
{
    std::vector<std::string> out;
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, ',')) {
        item = Trim(item);
        if (!item.empty()) out.push_back(item);
    }
    return out;
}

const char* const kFlags[] = {"echo", "no-echo", "silent"};

} // namespace

bool CardSimIsFlag(const std::string& key)
{
    for (const char* f : kFlags)
        if (key == f) return true;
    return false;
}

bool CardSimSet(CardSimConfig& c, const std::string& key, const std::string& value, std::string& error)
{
    auto text = [&](std::string& field) { field = value; return true; };
    auto number = [&](int& field) {
        if (ParseInt(value, field)) return true;
        error = "'" + key + "' needs a whole number from 0 to 1000000, not '" + value + "'";
        return false;
    };
    auto flag = [&](bool& field) {
        if (ParseBool(value, field)) return true;
        error = "'" + key + "' needs yes or no, not '" + value + "'";
        return false;
    };

    if (key == "model") return text(c.model);
    if (key == "number") return text(c.number);
    if (key == "firmware") return text(c.firmware);
    if (key == "maker") return text(c.maker);
    if (key == "channel") return text(c.channel);
    if (key == "levels") return text(c.levels);
    if (key == "level-count") return text(c.levelCount);
    if (key == "delay") return number(c.delayMs);
    if (key == "piece-size") return number(c.pieceSize);
    if (key == "piece-gap") return number(c.pieceGapMs);
    if (key == "echo") return flag(c.echo);
    if (key == "no-echo") return flag(c.noEcho);
    if (key == "silent") return flag(c.silent);
    if (key == "silent-command") return c.silentCommands.push_back(value), true;
    if (key == "error-command") return c.errorCommands.push_back(value), true;
    if (key == "vanish-after") return number(c.vanishAfter);
    if (key == "dial-result") {
        for (const char* r : {"connect", "busy", "no-carrier", "no-answer", "no-dialtone", "error"})
            if (value == r) return text(c.dialResult);
        error = "'dial-result' is one of connect, busy, no-carrier, no-answer, no-dialtone, error; not '" + value + "'";
        return false;
    }
    if (key == "connect-delay") return number(c.connectDelayMs);
    if (key == "modes") return c.modes = SplitList(value), true;
    if (key == "connect-text") return text(c.connectText);
    if (key == "user") return text(c.user);
    if (key == "password") return text(c.password);
    if (key == "link") return text(c.link);
    if (key == "log") return text(c.log);
    error = "unknown setting '" + key + "'";
    return false;
}

bool CardSimIsSetting(const std::string& key)
{
    CardSimConfig scratch;
    std::string error;
    return CardSimSet(scratch, key, "", error) || error.rfind("unknown setting", 0) != 0;
}

bool CardSimReadConfig(CardSimConfig& cfg, const std::string& path, std::string& error)
{
    std::ifstream in(path);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    if (!in || in.bad()) {
        error = "cannot read the config file '" + path + "'";
        return false;
    }
    return CardSimParseConfig(cfg, text.str(), path, error);
}

bool CardSimParseConfig(CardSimConfig& cfg, const std::string& text, const std::string& name, std::string& error)
{
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        const std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        const auto eq = t.find('=');
        const std::string key = Trim(t.substr(0, eq));
        const std::string value = eq == std::string::npos ? "" : Trim(t.substr(eq + 1));
        if (eq == std::string::npos && !CardSimIsFlag(key)) {
            error = name + ":" + std::to_string(lineNo) + ": expected 'key = value'";
            return false;
        }
        std::string why;
        if (!CardSimSet(cfg, key, value, why)) {
            error = name + ":" + std::to_string(lineNo) + ": " + why;
            return false;
        }
    }
    return true;
}

std::string CardSimDumpConfig(const CardSimConfig& c)
{
    std::ostringstream o;
    auto yn = [](bool b) { return b ? "yes" : "no"; };
    o << "model = " << c.model << "\n"
      << "number = " << c.number << "\n"
      << "firmware = " << c.firmware << "\n"
      << "maker = " << c.maker << "\n"
      << "channel = " << c.channel << "\n"
      << "levels = " << c.levels << "\n";
    if (!c.levelCount.empty()) o << "level-count = " << c.levelCount << "\n";
    o << "delay = " << c.delayMs << "\n"
      << "piece-size = " << c.pieceSize << "\n"
      << "piece-gap = " << c.pieceGapMs << "\n"
      << "echo = " << yn(c.echo) << "\n"
      << "no-echo = " << yn(c.noEcho) << "\n"
      << "silent = " << yn(c.silent) << "\n";
    for (const auto& s : c.silentCommands) o << "silent-command = " << s << "\n";
    for (const auto& s : c.errorCommands) o << "error-command = " << s << "\n";
    o << "vanish-after = " << c.vanishAfter << "\n"
      << "dial-result = " << c.dialResult << "\n"
      << "connect-delay = " << c.connectDelayMs << "\n"
      << "modes = ";
    for (size_t i = 0; i < c.modes.size(); ++i) o << (i ? "," : "") << c.modes[i];
    o << "\n";
    if (!c.connectText.empty()) o << "connect-text = " << c.connectText << "\n";
    o << "user = " << c.user << "\n"
      << "password = " << c.password << "\n";
    if (!c.link.empty()) o << "link = " << c.link << "\n";
    if (!c.log.empty()) o << "log = " << c.log << "\n";
    return o.str();
}

const char* CardSimHelp()
{
    return R"(Usage: kavanti-cardsim [OPTIONS]
Simulates a PHS data card on a pseudo-terminal. The first line on standard output is the
slave device path; open it like the card's serial port. Runs until SIGTERM or SIGINT.

Every setting can be given as --KEY VALUE (or --KEY=VALUE) or as a line "KEY = VALUE" in a
config file (--config FILE, read first; the command line wins). Flags take no value on the
command line and "yes"/"no" in a file. Repeatable settings may be given several times.

Plumbing:
  --config FILE          read settings from FILE ('#' starts a comment)
  --link PATH            also make a symlink PATH to the slave (replaces an old symlink;
                         removed on exit)
  --log FILE             append every command line received (and hang-ups) to FILE
  --dump-config          print the effective settings as a config file and exit
  --help                 this text

What the card answers:
  --model TEXT           "ATI4" (also "ATI", "ATI0", "AT+GMM")      [KV-PHS100]
  --number TEXT          "ATI6", the PHS number                     [07012345678]
  --firmware TEXT        "ATI5" (also "AT+GMR")                     [1.00]
  --maker TEXT           "AT+GMI"                                   [Kavanti]
  --channel TEXT         "AT@@LNK"                                  [3]
  --levels DIGITS        "AT@@LVL" level line                       [3333444455555]
  --level-count TEXT     "AT@@LVL" count line            [the number of levels]
  Replies have the layout: echo (when on), CR LF, text, CR LF, CR LF, "OK", CR LF.
  Unknown commands get "ERROR". Lines that do not start with "AT" are ignored.

How it answers:
  --delay MS             wait before each reply (after the echo)    [0]
  --piece-size N         send replies in pieces of N bytes (0: whole) [0]
  --piece-gap MS         pause between pieces                       [5]
  --echo                 echo on from the start (and after ATZ, AT&F); normally it is off
                         until "ATE1"
  --no-echo              accept "ATE1" but never echo
  --silent               never answer anything
  --silent-command CMD   no answer at all to the command line CMD (repeatable; a
                         trailing '*' matches any rest, e.g. "ATD*")
  --error-command CMD    answer "ERROR" to CMD (repeatable; '*' as above)
  --vanish-after N       after N command lines the card is pulled: the simulator closes
                         the line and exits                          [0: never]

Dialling ("ATD<number>", optional link-mode suffix "##61" or "##64"):
  --dial-result R        connect, busy, no-carrier, no-answer, no-dialtone or error
                                                                    [connect]
  --connect-delay MS     wait before the dial result                [200]
  --modes LIST           accepted link-mode suffixes; a call with another suffix gets
                         "NO CARRIER"                               [61,64]
  --connect-text TEXT    the connect line                [CONNECT 64000 for ##64,
                                               CONNECT 32000 for ##61, else CONNECT]
  Once connected the line is in data mode: "+++" returns to command mode ("OK"), "ATO"
  goes back on line, "ATH" hangs up; closing the slave side hangs up too.

Account (for the PPP simulator):
  --user NAME            the account user name                      [kavanti@example.jp]
  --password TEXT        its password                               [secret]
  In data mode the line "AUTH <user> <password>" CR is answered "AUTH OK" or
  "AUTH FAILED" (CR LF each).
)";
}
