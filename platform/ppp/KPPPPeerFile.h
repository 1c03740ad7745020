// The store's apply step for PPP: after a commit, /etc/ppp/peers/kavanti (KPaths::PeerFilePath)
// is rewritten from the current location's active service on a serial port, so `pppd call
// kavanti` dials what the store says. The file holds the privileged options only; the
// password never goes into it (it reaches pppd through a pipe at dial time).
#pragma once

#include "platform/cf/KStatus.h"
#include "platform/cf/PValue.h"
#include "platform/ports/KPorts.h"

#include <string>
#include <vector>

namespace KPPP {

struct PeerSettings {
    std::string devicePath;  // /dev/NAME from the ports reader
    std::string modemScript; // the service's chat script (full path)
    std::string number;      // the number the service dials; a dial may give another
    std::string accountName;
};

// The first service of the current location's service order that is active and whose
// Interface/DeviceName names one of `ports`; false when there is none or it has no modem script.
bool FindPeerSettings(const PDictionary& tree, const std::vector<KPorts::SerialPortInfo>& ports, PeerSettings& out);

// The peer file's text.
std::string PeerFileText(const PeerSettings& settings);

// Writes the peer file from the committed tree (atomically: temporary file, fsync, rename),
// or removes it when the current location has no such service. 0 or kStatusFileAccess.
OSStatus ApplyPeerFile(const PDictionary& committedTree);

// Splits a pppd options file into words as pppd reads it: blanks separate, '#' at a word's
// start comments out the rest of the line, quotes group, backslash escapes. False for an
// unterminated quote.
bool ReadOptionWords(const std::string& text, std::vector<std::string>& words);

// Installs ApplyPeerFile as the process-wide apply hook of the store; call once before the
// store is first opened.
void InstallPeerFileApplyHook();

} // namespace KPPP
