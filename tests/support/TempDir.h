// A temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include "support/Sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TempDir {
public:
    TempDir()
    {
        mPath = kvtest::MakeSandboxDir("kavanti-test");
        if (mPath.empty()) std::abort();
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(mPath, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return mPath; }
    std::string operator/(const std::string& rel) const { return mPath + "/" + rel; }

private:
    std::string mPath;
};

inline std::string ReadFileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteFileText(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Sets an environment variable for the life of the object, restoring the old value after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : mName(name)
    {
        if (const char* old = std::getenv(name)) { mHad = true; mOld = old; }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (mHad) setenv(mName.c_str(), mOld.c_str(), 1);
        else unsetenv(mName.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string mName;
    std::string mOld;
    bool mHad = false;
};
