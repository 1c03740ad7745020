// The administrator credentials dialog as the configuration layer sees it. app/netconfig sits
// below the user interface, so it asks for credentials only through this interface; app/ui's
// credentials dialog implements it and registers itself.
#pragma once

#include <string>

class CAuthPrompt {
public:
    virtual ~CAuthPrompt() = default;
    // Shows the dialog, `userName` filled in with the login name, and runs it modally until OK
    // or Cancel. OK: true with the typed user name and password. Cancel: false.
    virtual bool AskCredentials(std::string& userName, std::string& password) = 0;
};

// Null (no dialog registered) behaves as Cancel.
void RegisterAuthPrompt(CAuthPrompt* prompt);
CAuthPrompt* GetAuthPrompt();
