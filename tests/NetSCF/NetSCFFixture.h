// A sandboxed store with two sets for the library's tests:
//   set "0" Home:   service S1 (en0)
//   set "7" Office (current): order A, B, C; the services dictionary lists them as C, A, B;
//     A is filed under a local ID that differs from its own (link to /NetworkServices/SA);
//     B is inactive; C's interface has no device name.
#pragma once

#include "NetSCF/NetSCFAccess.h"
#include "support/StoreSandbox.h"

#include <gtest/gtest.h>

inline PRef<PDictionary> Dict(std::initializer_list<std::pair<const char*, PRef<PValue>>> entries)
{
    auto d = PDictionary::CreateMutable();
    for (const auto& [k, v] : entries) d->Set(k, v);
    return d;
}
inline PRef<PDictionary> Link(const std::string& target) { return Dict({{"__LINK__", PStr(target)}}); }
inline PRef<PArray> Strings(std::initializer_list<const char*> items)
{
    auto a = PArray::CreateMutable();
    for (const char* s : items) a->Append(PStr(s));
    return a;
}

class NetSCFTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SCErrorSet(0);
        NetSCSetClient(nullptr);
        SCPreferencesSetDefaultApplyHook([this](const PDictionary&) {
            ++mApplies;
            return mApplyStatus;
        });
    }
    void TearDown() override
    {
        EXPECT_EQ(gPrefsOpenCount, 0);
        EXPECT_FALSE(gPrefsRef);
        EXPECT_FALSE(gPrefsLocked);
        EXPECT_FALSE(gPrefsDirty);
        SCPreferencesSetDefaultApplyHook({});
        NetSCSetClient(nullptr);
    }

    static PRef<PDictionary> Tree()
    {
        auto ethernet = Dict({{"DeviceName", PStr("en0")}, {"Hardware", PStr("Ethernet")}, {"Type", PStr("Ethernet")}});
        return Dict({
            {"CurrentSet", PStr("/Sets/7")},
            {"Sets", Dict({
                 {"0", Dict({{"UserDefinedName", PStr("Home")},
                             {"Network", Dict({{"Global", Dict({{"IPv4", Dict({{"ServiceOrder", Strings({"S1"})}})}})},
                                               {"Service", Dict({{"S1", Link("/NetworkServices/S1")}})}})}})},
                 {"7", Dict({{"UserDefinedName", PStr("Office")},
                             {"Network", Dict({{"Global", Dict({{"IPv4", Dict({{"PPPOverridePrimary", PNum(1)},
                                                                               {"ServiceOrder", Strings({"A", "B", "C"})}})}})},
                                               {"Service", Dict({{"C", Link("/NetworkServices/C")},
                                                                 {"A", Link("/NetworkServices/SA")},
                                                                 {"B", Link("/NetworkServices/B")}})}})}})},
             })},
            {"NetworkServices", Dict({
                 {"S1", Dict({{"UserDefinedName", PStr("Home Ethernet")}, {"Interface", ethernet}})},
                 {"SA", Dict({{"UserDefinedName", PStr("Card")},
                              {"Interface", Dict({{"DeviceName", PStr("ttyUSB0")}, {"Hardware", PStr("Modem")}})},
                              {"PPP", Dict({{"__INACTIVE__", PNum(1)}, {"CommRemoteAddress", PStr("0570")}})},
                              {"Proxies", Dict({{"HTTPEnable", PNum(0)}})}})},
                 {"B", Dict({{"UserDefinedName", PStr("Second")}, {"__INACTIVE__", PNum(1)},
                             {"Interface", Dict({{"DeviceName", PStr("en1")}})}})},
                 {"C", Dict({{"UserDefinedName", PStr("Third")}, {"Interface", Dict({{"Hardware", PStr("Ethernet")}})}})},
             })},
        });
    }

    void WriteStore(const PDictionary& tree) { StoreSandbox::WriteTree(tree); }
    void WriteStore() { WriteStore(*Tree()); }

    // A value of the committed store file.
    static PRef<PDictionary> OnDisk(const std::string& path)
    {
        auto p = SCPreferencesCreate("check");
        return p ? SCPreferencesPathGetValue(p.get(), path) : PRef<PDictionary>();
    }
    static PRef<PValue> OnDiskTop(const std::string& key)
    {
        auto p = SCPreferencesCreate("check");
        return p ? SCPreferencesGetValue(p.get(), key) : PRef<PValue>();
    }

    StoreSandbox mBox;
    int mApplies = 0;
    OSStatus mApplyStatus = kStatusOK;
};

inline std::vector<std::string> Texts(const PArray* a)
{
    std::vector<std::string> out;
    if (a)
        for (const auto& v : a->Items())
            out.push_back(PValue::As<PString>(v.get()) ? PValue::As<PString>(v.get())->UTF8() : "<not a string>");
    return out;
}
