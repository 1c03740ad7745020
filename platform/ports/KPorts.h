// The machine's ports, read from sysfs (below KPaths::SysfsRoot()): serial ports from
// class/tty, network interfaces from class/net. Two views of the same reading:
//  - a small device registry (interfaces, their controllers and providers, serial clients and
//    the devices above them) with the properties the network port scanner names ports by;
//  - the flat port list that the PPP controller walks to find the card.
// Both come from one reader so that the two always name a port the same way.
#pragma once

#include "platform/cf/KStatus.h"
#include "platform/cf/PValue.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace KPorts {

// ---- what sysfs tells about each port ----

struct SerialPortInfo {
    std::string ttyName;     // "ttyS0", "ttyUSB0"
    std::string path;        // the device the serial layer opens: /dev/NAME (moved by the sandbox)
    std::string baseName;    // "pccard-modem", "usbmodem" or the name without its trailing digits
    std::string deviceName;  // "pccard-modem", "usbmodemSlipper" or the tty name
    bool isModem = false;    // modem stream (PC Card, USB) or plain RS-232
    std::optional<std::string> productName; // the USB device's product text
};

struct NetInterfaceInfo {
    std::string name;                         // BSD name = the interface name
    std::optional<std::vector<uint8_t>> hardwareAddress; // the address file's bytes
    bool airPort = false;                     // wireless folder or phy80211 link
    bool radio = false;                       // uevent says DEVTYPE=wwan
    bool pci = false;                         // the device sits on the pci bus
    std::string deviceFolderName;             // basename of the resolved device folder
    std::string driverName;                   // basename of the device's driver link, or ""
    std::optional<std::string> slotName;      // the PCI slot folder's name
    std::optional<int32_t> childIndex;        // the PCI function, when the device has several
};

// Serial ports in the order of their tty names (ttyS10 after ttyS9). A missing class/tty
// folder is a machine without serial ports; other read failures give an errno-based status.
OSStatus ListSerialPorts(std::vector<SerialPortInfo>& out);
// Hardware network interfaces (those with a device link), in name order.
OSStatus ListNetInterfaces(std::vector<NetInterfaceInfo>& out);

// The interface the system treats as its built-in Ethernet ("en0" elsewhere): eth0 or eno*.
bool IsBuiltInInterfaceName(std::string_view name);

// ---- the device registry ----

inline constexpr const char* kClassEthernetInterface = "IOEthernetInterface";
inline constexpr const char* kClassEthernetController = "IOEthernetController";
inline constexpr const char* kClassSerialBSDClient = "IOSerialBSDClient";
inline constexpr const char* kClassPCIDevice = "IOPCIDevice";
inline constexpr const char* kModemSerialStream = "IOModemSerialStream";
inline constexpr const char* kRS232SerialStream = "IORS232SerialStream";

class Device;
using DeviceRef = std::shared_ptr<const Device>;

// One registry entry: its class chain, its properties and its parent in the service plane.
class Device {
public:
    Device(std::vector<std::string> classes, PRef<PDictionary> properties, DeviceRef parent);

    bool ConformsTo(std::string_view className) const;
    // The property, or none.
    PRef<PValue> CopyProperty(std::string_view key) const;
    // A copy of all properties (never none for a device).
    PRef<PDictionary> CopyProperties() const;
    // The parent, or none at the top.
    DeviceRef Parent() const { return mParent; }

private:
    std::vector<std::string> mClasses;
    PRef<PDictionary> mProperties;
    DeviceRef mParent;
};

// Devices that match a description: "IOProviderClass" names a class the device must conform
// to; every other key must equal the device's property of that name. An entry given as
// "IOMatchClass" matches the class alone. Order: the reader's (name order).
OSStatus CopyMatchingDevices(const PDictionary& match, std::vector<DeviceRef>& out);

// The registry entry of each port, for callers that already hold the reading.
DeviceRef MakeEthernetInterfaceDevice(const NetInterfaceInfo& info);
DeviceRef MakeSerialClientDevice(const SerialPortInfo& info);

// ---- the port list ----

inline constexpr uint16_t kDeviceTypeSerial = 9;
inline constexpr uint32_t kPortIsAlias = 0x80000000u; // bit 31 of the information flags

struct PortRecord {
    std::string portName;   // the device path
    std::string moduleName; // the device name ("pccard-modem", "usbmodemSlipper", "ttyS0")
    uint16_t deviceType = kDeviceTypeSerial;
    uint32_t infoFlags = 0; // Linux has no alias ports: always clear
};

// Every serial port, in the same order as ListSerialPorts.
OSStatus ListPorts(std::vector<PortRecord>& out);

// The card's port: a serial port that is not an alias and whose module name holds
// "pccard-modem" or "usbmodemSlipper".
bool PortIsCardPort(const PortRecord& port);

// The first port of the list that is the card's; false when none is.
bool FindCardPort(PortRecord& out);

} // namespace KPorts
