#include "platform/ports/KPorts.h"

#include "platform/paths/KPaths.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace KPorts {

namespace {


std::string BaseName(const std::string& path)
{
    const auto pos = path.find_last_of('/');
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string ParentOf(const std::string& path)
{
    const auto pos = path.find_last_of('/');
    if (pos == std::string::npos || pos == 0) return "/";
    return path.substr(0, pos);
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> Resolve(const std::string& path)
{
    char buf[PATH_MAX];
    if (!realpath(path.c_str(), buf)) return std::nullopt;
    return std::string(buf);
}

// The target of a symbolic link, as written; "" when it is not one.
std::string LinkTarget(const std::string& path)
{
    char buf[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

// A sysfs attribute: its first line, without the newline. nullopt when it cannot be read.
std::optional<std::string> ReadAttribute(const std::string& path)
{
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    if (in.bad()) return std::nullopt;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

bool EndsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Names in the order people expect: digit runs compare by value (ttyS10 after ttyS9).
bool NaturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i]));
        const bool db = std::isdigit(static_cast<unsigned char>(b[j]));
        if (da && db) {
            size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
            std::string_view ra(a.data() + i, ie - i), rb(b.data() + j, je - j);
            while (ra.size() > 1 && ra[0] == '0') ra.remove_prefix(1);
            while (rb.size() > 1 && rb[0] == '0') rb.remove_prefix(1);
            if (ra.size() != rb.size()) return ra.size() < rb.size();
            if (ra != rb) return ra < rb;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;
}

// Entry names of a folder, "." and ".." left out, in natural order.
OSStatus ListFolder(const std::string& path, std::vector<std::string>& names)
{
    DIR* d = opendir(path.c_str());
    if (!d) return StatusFromErrno(errno);
    errno = 0;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    const int err = errno;
    closedir(d);
    if (err) return StatusFromErrno(err);
    std::sort(names.begin(), names.end(), NaturalLess);
    return kStatusOK;
}

// "aa:bb:cc:dd:ee:ff" into its bytes; nullopt when a field is not hexadecimal.
std::optional<std::vector<uint8_t>> ParseHardwareAddress(const std::string& text)
{
    std::vector<uint8_t> bytes;
    if (text.empty()) return bytes;
    std::stringstream ss(text);
    std::string field;
    while (std::getline(ss, field, ':')) {
        if (field.empty() || field.size() > 2) return std::nullopt;
        for (char c : field)
            if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(std::strtoul(field.c_str(), nullptr, 16)));
    }
    return bytes;
}

std::string KeepLettersAndDigits(const std::string& s)
{
    std::string r;
    for (char c : s)
        if (std::isalnum(static_cast<unsigned char>(c))) r += c;
    return r;
}

std::string WithoutTrailingDigits(const std::string& s)
{
    size_t n = s.size();
    while (n > 0 && std::isdigit(static_cast<unsigned char>(s[n - 1]))) --n;
    return s.substr(0, n);
}

// The folder where the walk up from a device stops: sysfs's own devices folder.
std::string DevicesTop()
{
    const std::string top = KPaths::SysfsRoot() + "/devices";
    if (auto r = Resolve(top)) return *r;
    return top;
}

SerialPortInfo ReadSerialPort(const std::string& name, const std::string& deviceFolder)
{
    SerialPortInfo p;
    p.ttyName = name;
    p.path = KPaths::DevicePath(name);
    p.baseName = WithoutTrailingDigits(name);
    p.deviceName = name;

    const std::string top = DevicesTop();
    std::string dir = deviceFolder;
    // USB interfaces sit on the usb bus too; only the USB device above them has a product file.
    while (dir.size() > top.size() && dir.compare(0, top.size(), top) == 0) {
        const std::string subsystem = BaseName(LinkTarget(dir + "/subsystem"));
        if (EndsWith(subsystem, "pcmcia")) {
            p.baseName = "pccard-modem";
            p.deviceName = "pccard-modem";
            p.isModem = true;
            break;
        }
        if (EndsWith(subsystem, "usb")) {
            if (auto product = ReadAttribute(dir + "/product")) {
                p.baseName = "usbmodem";
                p.deviceName = "usbmodem" + KeepLettersAndDigits(*product);
                p.productName = *product;
                p.isModem = true;
                break;
            }
        }
        dir = ParentOf(dir);
    }
    return p;
}

NetInterfaceInfo ReadNetInterface(const std::string& name, const std::string& ifFolder,
                                  const std::string& deviceFolder)
{
    NetInterfaceInfo n;
    n.name = name;
    if (auto addr = ReadAttribute(ifFolder + "/address")) n.hardwareAddress = ParseHardwareAddress(*addr);
    n.airPort = IsDirectory(ifFolder + "/wireless") || Exists(ifFolder + "/phy80211");
    {
        std::ifstream in(ifFolder + "/uevent");
        std::string line;
        while (std::getline(in, line))
            if (line == "DEVTYPE=wwan") n.radio = true;
    }
    n.deviceFolderName = BaseName(deviceFolder);
    n.driverName = BaseName(LinkTarget(deviceFolder + "/driver"));
    n.pci = EndsWith(BaseName(LinkTarget(deviceFolder + "/subsystem")), "pci");
    if (n.pci) {
        // A PCI address is domain:bus:slot.function; slots are named without the function.
        const std::string& address = n.deviceFolderName;
        const auto dot = address.find_last_of('.');
        const std::string slotAddress = dot == std::string::npos ? address : address.substr(0, dot);
        std::vector<std::string> slots;
        if (ListFolder(KPaths::SysfsRoot() + "/bus/pci/slots", slots) == kStatusOK) {
            for (const auto& s : slots) {
                auto a = ReadAttribute(KPaths::SysfsRoot() + "/bus/pci/slots/" + s + "/address");
                if (a && *a == slotAddress) {
                    n.slotName = s;
                    break;
                }
            }
        }
        if (dot != std::string::npos) {
            std::vector<std::string> siblings;
            int functions = 0;
            if (ListFolder(ParentOf(deviceFolder), siblings) == kStatusOK) {
                for (const auto& s : siblings)
                    if (s.size() > slotAddress.size() && s.compare(0, slotAddress.size() + 1, slotAddress + ".") == 0)
                        ++functions;
            }
            char* end = nullptr;
            const long fn = std::strtol(address.c_str() + dot + 1, &end, 16);
            if (functions > 1 && end && *end == '\0') n.childIndex = static_cast<int32_t>(fn);
        }
    }
    return n;
}

PRef<PData> DataOf(std::string_view s) { return PData::Create(s.data(), s.size()); }

} // namespace

OSStatus ListSerialPorts(std::vector<SerialPortInfo>& out)
{
    out.clear();
    const std::string classDir = KPaths::SysfsRoot() + "/class/tty";
    std::vector<std::string> names;
    const OSStatus st = ListFolder(classDir, names);
    if (st == kStatusFileNotFound) return kStatusOK; // no serial ports at all
    if (st != kStatusOK) return st;
    for (const auto& name : names) {
        auto device = Resolve(classDir + "/" + name + "/device");
        if (!device) continue; // virtual terminals have no device
        out.push_back(ReadSerialPort(name, *device));
    }
    return kStatusOK;
}

OSStatus ListNetInterfaces(std::vector<NetInterfaceInfo>& out)
{
    out.clear();
    const std::string classDir = KPaths::SysfsRoot() + "/class/net";
    std::vector<std::string> names;
    const OSStatus st = ListFolder(classDir, names);
    if (st == kStatusFileNotFound) return kStatusOK;
    if (st != kStatusOK) return st;
    for (const auto& name : names) {
        const std::string ifFolder = classDir + "/" + name;
        auto device = Resolve(ifFolder + "/device");
        if (!device) continue; // loopback, bridges and other software interfaces
        out.push_back(ReadNetInterface(name, ifFolder, *device));
    }
    return kStatusOK;
}

bool IsBuiltInInterfaceName(std::string_view name)
{
    return name == "eth0" || name.substr(0, 3) == "eno";
}

// ---- registry ----

Device::Device(std::vector<std::string> classes, PRef<PDictionary> properties, DeviceRef parent)
    : mClasses(std::move(classes)), mProperties(std::move(properties)), mParent(std::move(parent))
{
    if (!mProperties) mProperties = PDictionary::CreateMutable();
}

bool Device::ConformsTo(std::string_view className) const
{
    return std::find(mClasses.begin(), mClasses.end(), className) != mClasses.end();
}

PRef<PValue> Device::CopyProperty(std::string_view key) const { return mProperties->GetRef(key); }

PRef<PDictionary> Device::CopyProperties() const { return mProperties->ImmutableCopy(); }

DeviceRef MakeEthernetInterfaceDevice(const NetInterfaceInfo& info)
{
    // The provider: the bus device the controller sits on.
    auto provider = PDictionary::CreateMutable();
    provider->Set("name", DataOf(info.radio ? "radio" : info.deviceFolderName));
    if (info.pci) {
        if (info.slotName) provider->Set("AAPL,slot-name", DataOf(*info.slotName));
        if (info.childIndex) provider->Set("IOChildIndex", PNum(*info.childIndex));
    }
    auto providerDev = std::make_shared<const Device>(
        info.pci ? std::vector<std::string>{kClassPCIDevice} : std::vector<std::string>{"IOService"},
        provider, nullptr);

    // The controller: the driver, with the hardware address.
    auto controller = PDictionary::CreateMutable();
    controller->Set("IOClass", PStr(info.airPort ? "AirPortDriver"
                                                 : (info.driverName.empty() ? kClassEthernetController
                                                                            : info.driverName)));
    controller->Set("IOProviderClass", PStr(info.pci ? kClassPCIDevice : "IOService"));
    if (info.hardwareAddress) controller->Set("IOMACAddress", PData::Create(*info.hardwareAddress));
    auto controllerDev = std::make_shared<const Device>(
        std::vector<std::string>{kClassEthernetController}, controller, providerDev);

    auto iface = PDictionary::CreateMutable();
    iface->Set("BSD Name", PStr(info.name));
    return std::make_shared<const Device>(std::vector<std::string>{kClassEthernetInterface, "IONetworkInterface"},
                                          iface, controllerDev);
}

DeviceRef MakeSerialClientDevice(const SerialPortInfo& info)
{
    auto parent = PDictionary::CreateMutable();
    if (info.productName) {
        if (auto s = PStr(*info.productName)) parent->Set("Product Name", s);
    }
    auto parentDev = std::make_shared<const Device>(std::vector<std::string>{"IOService"}, parent, nullptr);

    auto props = PDictionary::CreateMutable();
    props->Set("IOTTYBaseName", PStr(info.baseName));
    props->Set("IOTTYDevice", PStr(info.deviceName));
    props->Set("IOSerialBSDClientType", PStr(info.isModem ? kModemSerialStream : kRS232SerialStream));
    props->Set("IOCalloutDevice", PStr(info.path));
    props->Set("IODialinDevice", PStr(info.path));
    return std::make_shared<const Device>(std::vector<std::string>{kClassSerialBSDClient}, props, parentDev);
}

OSStatus CopyMatchingDevices(const PDictionary& match, std::vector<DeviceRef>& out)
{
    out.clear();
    const PString* cls = match.GetAs<PString>("IOProviderClass");
    if (!cls) cls = match.GetAs<PString>("IOMatchClass");
    if (!cls) return kStatusBadParam;

    std::vector<DeviceRef> candidates;
    if (cls->UTF8() == kClassEthernetInterface) {
        std::vector<NetInterfaceInfo> ifs;
        if (OSStatus st = ListNetInterfaces(ifs)) return st;
        for (const auto& i : ifs) candidates.push_back(MakeEthernetInterfaceDevice(i));
    } else if (cls->UTF8() == kClassSerialBSDClient) {
        std::vector<SerialPortInfo> ports;
        if (OSStatus st = ListSerialPorts(ports)) return st;
        for (const auto& p : ports) candidates.push_back(MakeSerialClientDevice(p));
    }
    for (auto& d : candidates) {
        bool ok = true;
        for (const auto& [key, value] : match.Entries()) {
            if (key == "IOProviderClass" || key == "IOMatchClass") continue;
            auto v = d->CopyProperty(key);
            if (!v || !v->Equals(*value)) {
                ok = false;
                break;
            }
        }
        if (ok) out.push_back(std::move(d));
    }
    return kStatusOK;
}

// ---- port list ----

OSStatus ListPorts(std::vector<PortRecord>& out)
{
    out.clear();
    std::vector<SerialPortInfo> ports;
    if (OSStatus st = ListSerialPorts(ports)) return st;
    for (const auto& p : ports) {
        PortRecord r;
        r.portName = p.path;
        r.moduleName = p.deviceName;
        r.deviceType = kDeviceTypeSerial;
        r.infoFlags = 0;
        out.push_back(std::move(r));
    }
    return kStatusOK;
}

bool PortIsCardPort(const PortRecord& port)
{
    if (port.deviceType != kDeviceTypeSerial) return false;
    if (port.infoFlags & kPortIsAlias) return false;
    return port.moduleName.find("pccard-modem") != std::string::npos ||
           port.moduleName.find("usbmodemSlipper") != std::string::npos;
}

bool FindCardPort(PortRecord& out)
{
    std::vector<PortRecord> ports;
    if (ListPorts(ports) != kStatusOK) return false;
    for (const auto& p : ports) {
        if (PortIsCardPort(p)) {
            out = p;
            return true;
        }
    }
    return false;
}

} // namespace KPorts
