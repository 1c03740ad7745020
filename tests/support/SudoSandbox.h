// A KAVANTI_ROOT sandbox whose administrator kavanti-sudosim knows: KAVANTI_SUDO points at the
// built stand-in, and small executable stand-ins for the programs it runs can be written into it.
#pragma once

#include "support/FakeSysfs.h"
#include "support/SimProcess.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>

class SudoSandbox {
public:
    explicit SudoSandbox(const std::string& adminPassword = "admin-pw")
    {
        const char* old = std::getenv("KAVANTI_SUDO");
        if (old) mOldSudo = old, mHadSudo = true;
        setenv("KAVANTI_SUDO", StageBin("kavanti-sudosim").c_str(), 1);
        SetAdminPassword(adminPassword);
    }
    ~SudoSandbox()
    {
        if (mHadSudo) setenv("KAVANTI_SUDO", mOldSudo.c_str(), 1);
        else unsetenv("KAVANTI_SUDO");
    }
    SudoSandbox(const SudoSandbox&) = delete;
    SudoSandbox& operator=(const SudoSandbox&) = delete;

    const std::string& Root() const { return mRoot.Path(); }

    // The administrator's password changes (kept credentials stop working).
    void SetAdminPassword(const std::string& password)
    {
        SandboxRoot::WriteFile(Root() + "/etc/kavanti-sudosim/password", password + "\n");
    }

    // An executable shell script at ROOT/REL; its full path.
    std::string Script(const std::string& rel, const std::string& body)
    {
        const std::string path = Root() + "/" + rel;
        SandboxRoot::WriteFile(path, "#!/bin/sh\n" + body);
        chmod(path.c_str(), 0755);
        return path;
    }

private:
    SandboxRoot mRoot;
    std::string mOldSudo;
    bool mHadSudo = false;
};
