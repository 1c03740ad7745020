// The commands of kavanti-ctl. Each returns the exit status: 0 success, 1 failure, 2 usage error.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

struct CtlCommand {
    const char* name;
    const char* synopsis;
    const char* summary;
    int (*run)(const std::vector<std::string>& args);
};

// One line per command; the functions are defined in the command's own file.
#define KAVANTI_CTL_COMMANDS \
    {"version", "version [--json]", "print the version", CtlVersion}, \
    {"card-info", "card-info [--port PATH] [--json]", "measure the card (model, number, levels)", CtlCardInfo}, \
    {"ports", "ports [--json]", "list the network ports and the card's port", CtlPorts}, \
    {"modem-scripts", "modem-scripts [--json]", "list the installed modem scripts", CtlModemScripts}, \
    {"location", "location [--device NAME] [--show-password] [--json]", "show the current network location", CtlLocation}, \
    {"status", "status [--json]", "the running Kavanti's status, texts and buttons", CtlStatus}, \
    {"connect", "connect [--redial]", "press Connect in the running Kavanti", CtlConnect}, \
    {"disconnect", "disconnect", "press Disconnect", CtlDisconnect}, \
    {"cancel", "cancel", "press Cancel (stop dialling or redialling)", CtlCancel}, \
    {"measure", "measure", "press Measure on the card information panel", CtlMeasure}, \
    {"remaining-time", "remaining-time", "fetch the remaining prepaid time now", CtlRemainingTime}, \
    {"watch", "watch [--until CODE] [--json]", "print each status as the running Kavanti reports it", CtlWatch},

int CtlVersion(const std::vector<std::string>& args);
int CtlCardInfo(const std::vector<std::string>& args);
int CtlPorts(const std::vector<std::string>& args);
int CtlModemScripts(const std::vector<std::string>& args);
int CtlLocation(const std::vector<std::string>& args);
// Over D-Bus, to the running application (CtlDBus.cpp).
int CtlStatus(const std::vector<std::string>& args);
int CtlConnect(const std::vector<std::string>& args);
int CtlDisconnect(const std::vector<std::string>& args);
int CtlCancel(const std::vector<std::string>& args);
int CtlMeasure(const std::vector<std::string>& args);
int CtlRemainingTime(const std::vector<std::string>& args);
int CtlWatch(const std::vector<std::string>& args);

// Options of a command that takes only --json (and --help): sets `json`; returns -1 to go on,
// or the exit status (0 after --help, 2 after a usage error).
int CtlParseJsonOnly(const std::vector<std::string>& args, const char* usage, const char* help, bool& json);

// The JSON text of a document; bytes that are not UTF-8 (a card's text, a device name) become
// U+FFFD instead of ending the program.
std::string CtlDump(const nlohmann::ordered_json& j);
