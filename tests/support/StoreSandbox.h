// A KAVANTI_ROOT sandbox for one test: a fresh folder that the store paths move into.
#pragma once

#include "platform/cf/PList.h"
#include "platform/paths/KPaths.h"
#include "support/Sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

class StoreSandbox {
public:
    StoreSandbox()
    {
        mRoot = kvtest::MakeSandboxDir("kv-store-test");
        EXPECT_FALSE(mRoot.empty());
        setenv("KAVANTI_ROOT", mRoot.c_str(), 1);
    }
    ~StoreSandbox()
    {
        std::error_code ec;
        std::filesystem::remove_all(mRoot, ec);
        unsetenv("KAVANTI_ROOT");
    }
    StoreSandbox(const StoreSandbox&) = delete;
    StoreSandbox& operator=(const StoreSandbox&) = delete;

    const std::string& Root() const { return mRoot; }
    static std::string Store() { return KPaths::StorePath(); }

    // Writes the store file directly (bypassing the store).
    static void WriteRaw(const std::string& bytes)
    {
        std::filesystem::create_directories(std::filesystem::path(Store()).parent_path());
        std::ofstream(Store(), std::ios::binary | std::ios::trunc) << bytes;
    }
    static void WriteTree(const PValue& tree)
    {
        std::string xml;
        ASSERT_TRUE(PListCreateXMLData(tree, xml));
        WriteRaw(xml);
    }
    static std::string ReadRaw()
    {
        std::string bytes;
        ReadWholeFile(Store(), bytes);
        return bytes;
    }
    // The store file as the general property-list reader sees it; empty when it does not parse.
    static PRef<PDictionary> ReadTree()
    {
        PRef<PValue> v;
        PListReadFile(Store(), false, v);
        return PRefCast<PDictionary>(v);
    }

private:
    std::string mRoot;
};
