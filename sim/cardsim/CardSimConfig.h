// The simulated card's settings: what it answers and how, from options or a config file.
#pragma once

#include <string>
#include <vector>

struct CardSimConfig {
    // Answers
    std::string model = "KV-PHS100";       // ATI4 (also ATI, ATI0, AT+GMM)
    std::string number = "07012345678";    // ATI6
    std::string firmware = "1.00";         // ATI5 (also AT+GMR)
    std::string maker = "Kavanti";         // AT+GMI
    std::string channel = "3";             // AT@@LNK
    std::string levels = "3333444455555";  // AT@@LVL level line
    std::string levelCount;                // AT@@LVL count line; empty: the number of levels
    // Manner
    int delayMs = 0;                       // before each reply (after the echo)
    int pieceSize = 0;                     // send replies in pieces of this many bytes; 0: whole
    int pieceGapMs = 5;                    // pause between pieces
    bool echo = false;                     // echo at start and after ATZ/AT&F
    bool noEcho = false;                   // ATE1 is accepted but echo stays off
    bool silent = false;                   // never answers anything
    std::vector<std::string> silentCommands; // no answer to these command lines
    std::vector<std::string> errorCommands;  // ERROR for these command lines
    int vanishAfter = 0;                   // the card is pulled after this many commands; 0: never
    // Dialling
    std::string dialResult = "connect";    // connect, busy, no-carrier, no-answer, no-dialtone, error
    int connectDelayMs = 200;              // before the dial result
    std::vector<std::string> modes = {"61", "64"}; // accepted link-mode suffixes ("##61")
    std::string connectText;               // CONNECT line; empty: by mode (64000, 32000)
    // Account for the PPP simulator
    std::string user = "kavanti@example.jp";
    std::string password = "secret";
    // Plumbing
    std::string link;                      // symlink to the slave
    std::string log;                       // append each command line here
};

// Applies one setting ("model", "KV-1"); false and `error` set for an unknown key or bad value.
bool CardSimSet(CardSimConfig& cfg, const std::string& key, const std::string& value, std::string& error);
// A flag given without a value (e.g. "no-echo"); false when `key` is not a flag.
bool CardSimIsFlag(const std::string& key);
// A setting's name ("model", "no-echo"); false for anything CardSimSet does not know.
bool CardSimIsSetting(const std::string& key);
// Reads "key = value" lines ('#' starts a comment; a flag alone or "= yes/no").
bool CardSimReadConfig(CardSimConfig& cfg, const std::string& path, std::string& error);
// The same from the text of a config file; `name` goes into the messages.
bool CardSimParseConfig(CardSimConfig& cfg, const std::string& text, const std::string& name, std::string& error);
// The settings as a config file would hold them.
std::string CardSimDumpConfig(const CardSimConfig& cfg);
const char* CardSimHelp();
