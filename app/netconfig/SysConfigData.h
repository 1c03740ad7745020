// One network configuration of the card's service, compared field by field: the desired one
// made from the preferences and the current one read from the network preferences.
#pragma once

#include "platform/cf/PText.h"

struct SysConfigDataRec {
    CText<127> accessPoint;  // number dialled, with the link-mode suffix
    CText<255> userName;
    CText<255> password;     // plain text
    CText<255> proxyServer;  // host, or "NULL" for no proxy
    CText<255> proxyPort;    // decimal
    CText<1024> cclFilePath; // modem script, full path
};
