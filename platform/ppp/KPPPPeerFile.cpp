#include "platform/ppp/KPPPPeerFile.h"

#include "platform/paths/KPaths.h"
#include "platform/store/SCPreferences.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace KPPP {

namespace {

const PDictionary* Dict(const PDictionary* d, std::string_view key)
{
    return d ? d->GetAs<PDictionary>(key) : nullptr;
}

std::string Text(const PDictionary* d, std::string_view key)
{
    const PString* s = d ? d->GetAs<PString>(key) : nullptr;
    return s ? s->UTF8() : std::string();
}

// A word of a pppd options file: in double quotes, with \ and " escaped.
std::string OptionWord(std::string_view s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// A word for /bin/sh: in single quotes.
std::string ShellWord(std::string_view s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

} // namespace

bool FindPeerSettings(const PDictionary& tree, const std::vector<KPorts::SerialPortInfo>& ports, PeerSettings& out)
{
    const PString* current = tree.GetAs<PString>("CurrentSet");
    if (!current)
        return false;
    const std::string& path = current->UTF8();
    const std::string setID = path.substr(path.rfind('/') + 1);
    const PDictionary* set = Dict(tree.GetAs<PDictionary>("Sets"), setID);
    const PDictionary* ipv4 = Dict(Dict(Dict(set, "Network"), "Global"), "IPv4");
    const PArray* order = ipv4 ? ipv4->GetAs<PArray>("ServiceOrder") : nullptr;
    const PDictionary* services = tree.GetAs<PDictionary>("NetworkServices");
    if (setID.empty() || !order || !services)
        return false;
    for (size_t i = 0; i < order->Count(); ++i) {
        const PString* id = order->AtAs<PString>(i);
        const PDictionary* service = id ? services->GetAs<PDictionary>(id->UTF8()) : nullptr;
        if (!service || service->Contains("__INACTIVE__"))
            continue;
        const std::string device = Text(Dict(service, "Interface"), "DeviceName");
        if (device.empty())
            continue;
        for (const KPorts::SerialPortInfo& port : ports) {
            if (port.deviceName != device)
                continue;
            PeerSettings s;
            s.devicePath = port.path;
            s.modemScript = Text(Dict(service, "Modem"), "ConnectionScript");
            s.number = Text(Dict(service, "PPP"), "CommRemoteAddress");
            s.accountName = Text(Dict(service, "PPP"), "AuthName");
            if (s.modemScript.empty())
                return false;
            out = s;
            return true;
        }
    }
    return false;
}

std::string PeerFileText(const PeerSettings& s)
{
    // The number a dial hands over (pppd's `set KAVANTI_NUMBER=...`) wins over the stored one.
    const std::string connect = "N=" + ShellWord(s.number) + "; exec /usr/sbin/chat -v -T \"${KAVANTI_NUMBER:-$N}\" -f " +
                                ShellWord(s.modemScript);
    std::string text;
    text += "# Written by Kavanti from the network preferences; changes are overwritten.\n";
    text += OptionWord(s.devicePath) + "\n";
    text += "115200\n";
    text += "crtscts\n";
    text += "lock\n";
    text += "modem\n";
    text += "connect " + OptionWord(connect) + "\n";
    text += "noauth\n";
    text += "defaultroute\n";
    text += "usepeerdns\n";
    text += "user " + OptionWord(s.accountName) + "\n";
    text += "plugin passwordfd.so\n";
    text += "plugin kavanti-events.so\n";
    return text;
}

OSStatus ApplyPeerFile(const PDictionary& committedTree)
{
    const std::string peerFile = KPaths::PeerFilePath();
    std::vector<KPorts::SerialPortInfo> ports;
    PeerSettings settings;
    if (KPorts::ListSerialPorts(ports) != kStatusOK || !FindPeerSettings(committedTree, ports, settings)) {
        if (::unlink(peerFile.c_str()) != 0 && errno != ENOENT)
            return kStatusFileAccess;
        return kStatusOK;
    }
    const std::string folder = peerFile.substr(0, peerFile.rfind('/'));
    if (KPaths::MakeFolders(folder, 0755) != 0)
        return kStatusFileAccess;
    if (KPaths::WriteFileAtomically(peerFile, PeerFileText(settings), 0644) != 0)
        return kStatusFileAccess;
    return kStatusOK;
}

// Words of a pppd options file: blanks separate, '#' starts a comment at a word's start,
// single and double quotes group, backslash escapes (\\, \", \n, ...) as pppd reads them.
bool ReadOptionWords(const std::string& text, std::vector<std::string>& words)
{
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        while (i < n && std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
        if (i >= n)
            break;
        if (text[i] == '#') {
            while (i < n && text[i] != '\n')
                ++i;
            continue;
        }
        std::string word;
        char quote = 0;
        while (i < n) {
            char c = text[i];
            if (quote) {
                if (c == quote) {
                    quote = 0;
                    ++i;
                    continue;
                }
            } else if (c == '"' || c == '\'') {
                quote = c;
                ++i;
                continue;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                break;
            }
            if (c == '\\' && i + 1 < n) {
                char e = text[i + 1];
                i += 2;
                switch (e) {
                case 'n': word += '\n'; break;
                case 'r': word += '\r'; break;
                case 't': word += '\t'; break;
                case '\n': break; // line continuation
                default: word += e;
                }
                continue;
            }
            word += c;
            ++i;
        }
        if (quote)
            return false;
        words.push_back(word);
    }
    return true;
}

void InstallPeerFileApplyHook()
{
    SCPreferencesSetDefaultApplyHook([](const PDictionary& tree) { return ApplyPeerFile(tree); });
}

} // namespace KPPP
