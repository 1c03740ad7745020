// Runs kavanti-servicesim for a test: its port comes from its first output line.
#pragma once

#include "support/SimProcess.h"

#include <cstdlib>
#include <string>
#include <vector>

class ServiceSim : public BackgroundSim {
public:
    explicit ServiceSim(std::vector<std::string> options)
        : BackgroundSim("kavanti-servicesim", std::move(options)), mPort(std::atoi(FirstLine().c_str()))
    {
    }

    int Port() const { return mPort; }
    std::string Base(const std::string& path = "/remaining/") const
    {
        return "http://127.0.0.1:" + std::to_string(mPort) + path;
    }

private:
    int mPort = 0;
};
