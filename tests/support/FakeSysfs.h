// A sandbox folder (KAVANTI_ROOT) holding a small sysfs tree with the real layout:
// class/tty/NAME and class/net/IF are links into devices/..., device folders carry
// `subsystem` links into bus/..., `device` links point back up, attributes are plain files.
#pragma once

#include "support/Sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

class SandboxRoot {
public:
    SandboxRoot()
    {
        mPath = kvtest::MakeSandboxDir("kavanti");
        const char* old = std::getenv("KAVANTI_ROOT");
        if (old) mOld = old, mHadOld = true;
        setenv("KAVANTI_ROOT", mPath.c_str(), 1);
    }
    ~SandboxRoot()
    {
        if (mHadOld) setenv("KAVANTI_ROOT", mOld.c_str(), 1);
        else unsetenv("KAVANTI_ROOT");
        std::error_code ec;
        if (!mPath.empty()) fs::remove_all(mPath, ec);
    }
    SandboxRoot(const SandboxRoot&) = delete;
    SandboxRoot& operator=(const SandboxRoot&) = delete;

    const std::string& Path() const { return mPath; }

    static void WriteFile(const fs::path& p, const std::string& text)
    {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text;
    }

private:
    std::string mPath;
    std::string mOld;
    bool mHadOld = false;
};

class FakeSysfs {
public:
    explicit FakeSysfs(const std::string& root) : mSys(fs::path(root) / "sys")
    {
        fs::create_directories(mSys / "devices");
        fs::create_directories(mSys / "class/tty");
        fs::create_directories(mSys / "class/net");
    }

    const fs::path& Sys() const { return mSys; }

    // A device folder devices/REL on bus SUBSYSTEM ("" for none).
    fs::path Device(const std::string& rel, const std::string& subsystem = "")
    {
        const fs::path dir = mSys / "devices" / rel;
        fs::create_directories(dir);
        if (!subsystem.empty()) {
            fs::create_directories(mSys / "bus" / subsystem);
            LinkTo(dir / "subsystem", mSys / "bus" / subsystem);
        }
        return dir;
    }

    void Attribute(const fs::path& dir, const std::string& name, const std::string& value)
    {
        SandboxRoot::WriteFile(dir / name, value + "\n");
    }

    // A tty NAME whose device is devices/DEVICEREL.
    void Tty(const std::string& name, const std::string& deviceRel)
    {
        const fs::path dev = mSys / "devices" / deviceRel;
        const fs::path node = dev / "tty" / name;
        fs::create_directories(node);
        LinkTo(node / "device", dev);
        fs::create_directories(mSys / "class/tty");
        LinkTo(node / "subsystem", mSys / "class/tty");
        LinkTo(mSys / "class/tty" / name, node);
    }

    // A tty without a device (a virtual console).
    void VirtualTty(const std::string& name)
    {
        const fs::path node = mSys / "devices/virtual/tty" / name;
        fs::create_directories(node);
        LinkTo(mSys / "class/tty" / name, node);
    }

    // A network interface IF on devices/DEVICEREL ("" for a software interface).
    fs::path Net(const std::string& name, const std::string& deviceRel, const std::string& address,
                 bool wireless = false, bool wwan = false)
    {
        fs::path node;
        if (deviceRel.empty()) {
            node = mSys / "devices/virtual/net" / name;
            fs::create_directories(node);
        } else {
            const fs::path dev = mSys / "devices" / deviceRel;
            node = dev / "net" / name;
            fs::create_directories(node);
            LinkTo(node / "device", dev);
        }
        Attribute(node, "address", address);
        SandboxRoot::WriteFile(node / "uevent", std::string("INTERFACE=") + name + "\n" +
                                                    (wwan ? "DEVTYPE=wwan\n" : ""));
        if (wireless) fs::create_directories(node / "wireless");
        LinkTo(mSys / "class/net" / name, node);
        return node;
    }

    void PciSlot(const std::string& slot, const std::string& address)
    {
        Attribute(mSys / "bus/pci/slots" / slot, "address", address);
    }

private:
    static void LinkTo(const fs::path& link, const fs::path& target)
    {
        std::error_code ec;
        fs::create_symlink(fs::relative(target, link.parent_path()), link, ec);
    }

    fs::path mSys;
};
