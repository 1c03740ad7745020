#include "NetSCF/NetSCFPortScanner.h"

#include "NetSCF/NetSCFAccess.h"
#include "NetSCF/NetSCFValue.h"
#include "platform/cf/PText.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

namespace {

// A failure of the scanner's own (a missing name, a template that cannot be made).
constexpr OSStatus kScannerFailed = -1;

std::atomic<bool> gCallbackMessageShown{false};

void SetString(PDictionary& d, const char* key, std::string_view value)
{
    d.Set(key, PStr(value));
}

bool SetNumber(PDictionary& d, const char* key, int32_t value)
{
    auto k = PStr(key);
    return CFXDictionarySetNumber(d, *k, value) == kStatusOK;
}

const PString* StringProperty(const PDictionary& props, std::string_view key)
{
    return props.GetAs<PString>(key);
}

bool HasPrefix(const PString* s, std::string_view prefix)
{
    return s && s->UTF8().compare(0, prefix.size(), prefix) == 0;
}

std::string Lowercase(const std::string& s)
{
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

PRef<PDictionary> MatchingClass(const char* providerClass, const char* clientType)
{
    PRef<PDictionary> d;
    if (CFXDictionaryCreateMutable(d) != kStatusOK) return d;
    if (clientType) {
        SetString(*d, "IOProviderClass", providerClass);
        SetString(*d, "IOSerialBSDClientType", clientType);
    } else {
        SetString(*d, "IOMatchClass", providerClass);
    }
    return d;
}

} // namespace

bool CFEqualString(const PString* a, const PString* b)
{
    if (!a || !b) return false;
    return a == b || a->UTF8() == b->UTF8();
}

PRef<PString> CreateStringFromData(const PData* data)
{
    if (!data) return {};
    const auto& bytes = data->Bytes();
    size_t n = bytes.size();
    while (n > 0 && bytes[n - 1] == 0) --n;
    return PStringCreateWithBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), n),
                                  PEncoding::MacRoman);
}

PRef<PString> CreateMACFromData(const PData* data)
{
    if (!data || data->Length() != 6) return {};
    PRef<PString> s;
    if (NetSCFCreateStringWithMacAddress(data->Bytes().data(), s) != kStatusOK) return {};
    return s;
}

int32_t SortOrder(const PDictionary& portDict)
{
    int32_t v = 100;
    if (const PNumber* n = portDict.GetAs<PNumber>("SortOrder")) {
        if (!n->GetInt32(v)) v = 100;
    }
    return v;
}

int PortSorter(const PDictionary& lhs, const PDictionary& rhs)
{
    const int32_t a = SortOrder(lhs), b = SortOrder(rhs);
    if (a != b) return a < b ? -1 : 1;
    const PString* na = lhs.GetAs<PString>("UserDefinedName");
    const PString* nb = rhs.GetAs<PString>("UserDefinedName");
    const std::string sa = na ? na->UTF8() : std::string();
    const std::string sb = nb ? nb->UTF8() : std::string();
    return sa.compare(sb) < 0 ? -1 : (sa == sb ? 0 : 1);
}

OSStatus EthernetDeviceToDictProc(void*, const KPorts::Device& device, PDictionary& portDict)
{
    OSStatus err = kStatusOK;
    if (!SetNumber(portDict, "SortOrder", 9)) return kStatusValueNotMade;
    auto bsdName = PRefCast<PString>(device.CopyProperty("BSD Name"));
    if (!bsdName) err = kScannerFailed;
    else portDict.Set("DeviceName", bsdName);
    SetString(portDict, "Hardware", "Ethernet");
    SetString(portDict, "Type", "Ethernet");
    if (err == kStatusOK) {
        if (auto controller = device.Parent()) {
            auto mac = CreateMACFromData(PValue::As<PData>(controller->CopyProperty("IOMACAddress").get()));
            if (mac) portDict.Set("MACAddress", mac);
        }
    }
    return err;
}

OSStatus ModemOrSerialDeviceToDictProc(void*, const KPorts::Device& device, PDictionary& portDict)
{
    auto props = device.CopyProperties();
    if (!props) return kStatusValueNotMade;
    const PString* baseName = StringProperty(*props, "IOTTYBaseName");
    if (!baseName || baseName->UTF8() == "irda") return kStatusOK; // not listed
    if (!SetNumber(portDict, "SortOrder", 4)) return kStatusValueNotMade;
    if (auto dev = props->GetRef("IOTTYDevice")) portDict.Set("DeviceName", dev);
    SetString(portDict, "Hardware", "Modem");
    SetString(portDict, "Type", "PPP");
    SetString(portDict, "SubType", "PPPSerial");
    if (HasPrefix(baseName, "IrDA-IrCOMM")) {
        if (!SetNumber(portDict, "SortOrder", 3)) return kStatusValueNotMade;
        SetString(portDict, "HardwareVariant", "IrDA-IrCOMM");
    }
    return kStatusOK;
}

OSStatus CopyUserVisibleNameForEthernetPort(const KPorts::Device& interface, PDictionary& interfaceInfo,
                                            PRef<PString>& nameTemplate)
{
    NetSCAssert(nameTemplate.empty());
    nameTemplate = nullptr;
    const KPorts::DeviceRef controller = interface.Parent();
    const KPorts::DeviceRef provider = controller ? controller->Parent() : nullptr;
    if (!controller || !provider) return kStatusFileNotFound;
    const PRef<PDictionary> controllerProps = controller->CopyProperties();
    if (!controllerProps) return kStatusValueNotMade;
    auto bsdName = PRefCast<PString>(interface.CopyProperty("BSD Name"));
    if (!bsdName) return kScannerFailed;

    // Linux calls the built-in interface eth0 or eno*, not en0.
    if (bsdName->UTF8() == "en0" || KPorts::IsBuiltInInterfaceName(bsdName->UTF8())) {
        if (!SetNumber(interfaceInfo, "SortOrder", 5)) return kStatusValueNotMade;
        nameTemplate = PStr("Built-in Ethernet");
        return kStatusOK;
    }
    const PString* ioClass = controllerProps->GetAs<PString>("IOClass");
    if (ioClass && ioClass->UTF8() == "AirPortDriver") {
        SetString(interfaceInfo, "Hardware", "AirPort");
        if (!SetNumber(interfaceInfo, "SortOrder", 7)) return kStatusValueNotMade;
        nameTemplate = PStr("AirPort");
        return kStatusOK;
    }
    const PRef<PDictionary> providerProps = provider->CopyProperties();
    if (!providerProps) return kStatusValueNotMade;
    auto providerName = CreateStringFromData(providerProps->GetAs<PData>("name"));
    if (!providerName) return kScannerFailed;
    if (providerName->UTF8() == "radio") {
        if (!SetNumber(interfaceInfo, "SortOrder", 8)) return kStatusValueNotMade;
        nameTemplate = PStr("Wireless Network Adaptor");
        return kStatusOK;
    }
    const PString* providerClass = controllerProps->GetAs<PString>("IOProviderClass");
    if (providerClass && providerClass->UTF8() == KPorts::kClassPCIDevice) {
        if (!SetNumber(interfaceInfo, "SortOrder", 6)) return kStatusValueNotMade;
        std::string slot = "unknown";
        if (auto s = CreateStringFromData(providerProps->GetAs<PData>("AAPL,slot-name"))) {
            slot = s->UTF8();
            if (slot.compare(0, 5, "SLOT-") == 0) slot.erase(0, 5);
        }
        SetString(interfaceInfo, "AAPL,slot-name", slot);
        int32_t index = 0;
        const PNumber* childIndex = providerProps->GetAs<PNumber>("IOChildIndex");
        if (childIndex && childIndex->GetInt32(index)) {
            std::string text = "unknown";
            auto again = PRefCast<PNumber>(provider->CopyProperty("IOChildIndex"));
            if (again && again->GetInt32(index)) text = std::to_string(static_cast<long>(index) + 1);
            SetString(interfaceInfo, "IOChildIndex", text);
            nameTemplate = PStr("PCI Ethernet Slot %2$@, Port %3$@");
        } else {
            nameTemplate = PStr("PCI Ethernet Slot %2$@");
        }
        return kStatusOK;
    }
    interfaceInfo.Set("BSD Name", bsdName);
    nameTemplate = PStr("Ethernet Adaptor (%1$@)");
    return kStatusOK;
}

OSStatus CopyUserVisibleNameForModemOrSerialPort(const KPorts::Device& interface, PDictionary& interfaceInfo,
                                                 PRef<PString>& nameTemplate)
{
    NetSCAssert(nameTemplate.empty());
    nameTemplate = nullptr;
    auto clientType = PRefCast<PString>(interface.CopyProperty("IOSerialBSDClientType"));
    if (!clientType) return kScannerFailed;
    const bool isModem = clientType->UTF8() == KPorts::kModemSerialStream;
    if (isModem && !SetNumber(interfaceInfo, "SortOrder", 2)) return kStatusValueNotMade;
    auto baseName = PRefCast<PString>(interface.CopyProperty("IOTTYBaseName"));
    if (!baseName) return kScannerFailed;
    const std::string& base = baseName->UTF8();

    if (isModem && base == "modem") {
        if (!SetNumber(interfaceInfo, "SortOrder", 0)) return kStatusValueNotMade;
        nameTemplate = PStr("Internal Modem");
    } else if (base == "modem") {
        nameTemplate = PStr("Modem Port");
    } else if (base == "printer") {
        nameTemplate = PStr("Printer Port");
    } else if (base == "modem-printer") {
        nameTemplate = PStr("Modem/Printer Port");
    } else if (base == "usbmodem") {
        if (!SetNumber(interfaceInfo, "SortOrder", 1)) return kStatusValueNotMade;
        PRef<PString> product;
        if (auto parent = interface.Parent()) product = PRefCast<PString>(parent->CopyProperty("Product Name"));
        nameTemplate = product ? product : PStr("USB Modem");
    } else if (base == "IrDA-IrCOMM") {
        nameTemplate = PStr("IrDA Modem Port");
    } else {
        SetString(interfaceInfo, "IOTTYBaseName", base.empty() ? std::string("unknown") : Lowercase(base));
        nameTemplate = PStr("%4$@-port");
    }
    return nameTemplate ? kStatusOK : kStatusValueNotMade;
}

OSStatus SubstituteKeywordsInUserVisibleName(const KPorts::Device&, const PDictionary& interfaceInfo,
                                             const PString& nameTemplate, PRef<PString>& userVisibleName)
{
    NetSCAssert(userVisibleName.empty());
    userVisibleName = nullptr;
    struct Placeholder {
        const char* text;
        const char* key;
    };
    static const Placeholder kPlaceholders[] = {
        {"%1$@", "BSD Name"}, {"%2$@", "AAPL,slot-name"}, {"%3$@", "IOChildIndex"}, {"%4$@", "IOTTYBaseName"}};
    std::string name = nameTemplate.UTF8();
    for (const auto& p : kPlaceholders) {
        const auto pos = name.find(p.text);
        if (pos == std::string::npos) continue;
        const PString* value = interfaceInfo.GetAs<PString>(p.key);
        NetSCAssert(value != nullptr);
        if (!value) continue;
        name.replace(pos, std::char_traits<char>::length(p.text), value->UTF8());
    }
    userVisibleName = PStr(name);
    return userVisibleName ? kStatusOK : kScannerFailed;
}

OSStatus CopyUserVisiblePortName(const KPorts::Device& interface, PDictionary& interfaceInfo,
                                 PRef<PString>& userVisibleName)
{
    NetSCAssert(userVisibleName.empty());
    userVisibleName = nullptr;
    OSStatus err = kStatusOK;
    PRef<PString> nameTemplate;
    if (interface.ConformsTo(KPorts::kClassEthernetInterface)) {
        err = CopyUserVisibleNameForEthernetPort(interface, interfaceInfo, nameTemplate);
    } else if (interface.ConformsTo(KPorts::kClassSerialBSDClient)) {
        err = CopyUserVisibleNameForModemOrSerialPort(interface, interfaceInfo, nameTemplate);
    } else {
        nameTemplate = PRefCast<PString>(interface.CopyProperty("BSD Name"));
        if (!nameTemplate) err = kScannerFailed;
    }

    // There is no port-name hook on this system; say so once, as the scanner always has.
    if (!gCallbackMessageShown.exchange(true))
        std::fputs("NetSCFPortScanner: You should install a port name callback.\n", stderr);

    PRef<PString> name;
    if (err == kStatusOK) {
        name = nameTemplate; // values are immutable: sharing is the copy
        if (!name) err = kScannerFailed;
    }
    if (err == kStatusOK) err = SubstituteKeywordsInUserVisibleName(interface, interfaceInfo, *name, userVisibleName);
    return err;
}

OSStatus AddMatchingDevicesToArray(PRef<PDictionary> deviceMatchDict, NetSCDeviceToDictProc deviceToDict,
                                   void* context, PArray& result)
{
    if (!deviceMatchDict) return kStatusValueNotMade;
    std::vector<KPorts::DeviceRef> devices;
    OSStatus err = KPorts::CopyMatchingDevices(*deviceMatchDict, devices);
    for (const auto& device : devices) {
        if (err != kStatusOK) break;
        PRef<PDictionary> portDict;
        err = CFXDictionaryCreateMutable(portDict);
        if (err == kStatusOK) err = deviceToDict(context, *device, *portDict);
        if (err == kStatusOK && portDict->Count() > 0) {
            PRef<PString> name;
            err = CopyUserVisiblePortName(*device, *portDict, name);
            if (err == kStatusOK) {
                portDict->Set("UserDefinedName", name);
                if (!result.Append(portDict)) err = kStatusValueNotMade;
            }
        }
    }
    return err;
}

OSStatus NetSCCreatePortArray(PRef<PArray>& portArray)
{
    NetSCAssert(portArray.empty());
    portArray = nullptr;
    PRef<PArray> array;
    OSStatus err = CFXArrayCreateMutable(array);
    // The registry needs no master port here: the ports reader answers directly.
    if (err == kStatusOK)
        err = AddMatchingDevicesToArray(MatchingClass(KPorts::kClassEthernetInterface, nullptr),
                                        EthernetDeviceToDictProc, nullptr, *array);
    if (err == kStatusOK)
        err = AddMatchingDevicesToArray(MatchingClass(KPorts::kClassSerialBSDClient, KPorts::kModemSerialStream),
                                        ModemOrSerialDeviceToDictProc, nullptr, *array);
    if (err == kStatusOK)
        err = AddMatchingDevicesToArray(MatchingClass(KPorts::kClassSerialBSDClient, KPorts::kRS232SerialStream),
                                        ModemOrSerialDeviceToDictProc, nullptr, *array);
    if (err == kStatusOK) {
        std::vector<PRef<PValue>> items = array->Items();
        std::stable_sort(items.begin(), items.end(), [](const PRef<PValue>& a, const PRef<PValue>& b) {
            const PDictionary* da = PValue::As<PDictionary>(a.get());
            const PDictionary* db = PValue::As<PDictionary>(b.get());
            return da && db && PortSorter(*da, *db) < 0;
        });
        array->RemoveAll();
        for (auto& v : items) array->Append(v);
        portArray = array;
    }
    NetSCAssert((err == kStatusOK) == !portArray.empty());
    return err;
}
