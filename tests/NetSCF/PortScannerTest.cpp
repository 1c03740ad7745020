#include "NetSCF/NetSCFPortScanner.h"

#include "support/FakeSysfs.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string Str(const PDictionary& d, const char* key)
{
    const PString* s = d.GetAs<PString>(key);
    return s ? s->UTF8() : std::string("<none>");
}

// A machine with one port of every kind the scanner names differently.
void BuildMachine(FakeSysfs& sys)
{
    // serial: PC Card modem, USB modem with a product, USB adapter without one, built-in, IrDA
    sys.Device("pci0000:00/0000:00:1e.0/pcmcia_socket0/0.0", "pcmcia");
    sys.Tty("ttyS4", "pci0000:00/0000:00:1e.0/pcmcia_socket0/0.0");
    auto usb = sys.Device("pci0000:00/0000:00:14.0/usb1/1-1", "usb");
    sys.Attribute(usb, "product", "Slipper");
    sys.Device("pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0", "usb");
    sys.Tty("ttyACM0", "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0");
    sys.Device("pci0000:00/0000:00:14.0/usb1/1-2", "usb");
    sys.Device("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0", "usb");
    sys.Tty("ttyUSB1", "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0");
    sys.Device("platform/serial8250", "platform");
    sys.Tty("ttyS0", "platform/serial8250");
    sys.Device("platform/irda", "platform");
    sys.Tty("irda0", "platform/irda");
    sys.VirtualTty("tty1");

    // network
    sys.Device("pci0000:00/0000:00:19.0", "pci");
    sys.Net("eno1", "pci0000:00/0000:00:19.0", "00:1b:21:aa:bb:cc");
    sys.Device("pci0000:00/0000:00:1c.0/0000:03:00.0", "pci");
    sys.Device("pci0000:00/0000:00:1c.0/0000:03:00.1", "pci");
    sys.Net("enp3s0f0", "pci0000:00/0000:00:1c.0/0000:03:00.0", "00:1b:21:00:00:01");
    sys.PciSlot("SLOT-2", "0000:03:00");
    sys.Device("pci0000:00/0000:00:1c.2/0000:05:00.0", "pci");
    sys.Net("enp5s0", "pci0000:00/0000:00:1c.2/0000:05:00.0", "00:1b:21:00:00:05");
    sys.Device("pci0000:00/0000:00:1c.1/0000:04:00.0", "pci");
    sys.Net("wlp4s0", "pci0000:00/0000:00:1c.1/0000:04:00.0", "a0:b1:c2:d3:e4:f5", true);
    sys.Device("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0", "usb");
    sys.Net("wwan0", "pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0", "00:00:00:00:00:00:00:00", false, true);
    sys.Device("pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0", "usb");
    sys.Net("enx00e04c680001", "pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0", "00:e0:4c:68:00:01");
    sys.Net("lo", "", "00:00:00:00:00:00");
}

TEST(PortScanner, ListsEveryPortBySortKeyThenName)
{
    SandboxRoot root;
    FakeSysfs sys(root.Path());
    BuildMachine(sys);

    PRef<PArray> ports;
    ASSERT_EQ(NetSCCreatePortArray(ports), kStatusOK);
    ASSERT_TRUE(ports);

    struct Row {
        int32_t sortOrder;
        const char* name;
        const char* device;
        const char* hardware;
        const char* mac; // "<none>" when not written
    };
    const Row expected[] = {
        {1, "Slipper", "usbmodemSlipper", "Modem", "<none>"},
        {2, "pccard-modem-port", "pccard-modem", "Modem", "<none>"},
        {4, "ttys-port", "ttyS0", "Modem", "<none>"},
        {4, "ttyusb-port", "ttyUSB1", "Modem", "<none>"},
        {5, "Built-in Ethernet", "eno1", "Ethernet", "00:1b:21:aa:bb:cc"},
        {6, "PCI Ethernet Slot 2, Port 1", "enp3s0f0", "Ethernet", "00:1b:21:00:00:01"},
        {6, "PCI Ethernet Slot unknown", "enp5s0", "Ethernet", "00:1b:21:00:00:05"},
        {7, "AirPort", "wlp4s0", "AirPort", "a0:b1:c2:d3:e4:f5"},
        {8, "Wireless Network Adaptor", "wwan0", "Ethernet", "<none>"}, // 8-byte address: none
        {9, "Ethernet Adaptor (enx00e04c680001)", "enx00e04c680001", "Ethernet", "00:e0:4c:68:00:01"},
    };
    ASSERT_EQ(ports->Count(), std::size(expected));
    for (size_t i = 0; i < ports->Count(); ++i) {
        const PDictionary& d = *ports->AtAs<PDictionary>(i);
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(SortOrder(d), expected[i].sortOrder);
        EXPECT_EQ(Str(d, "UserDefinedName"), expected[i].name);
        EXPECT_EQ(Str(d, "DeviceName"), expected[i].device);
        EXPECT_EQ(Str(d, "Hardware"), expected[i].hardware);
        EXPECT_EQ(Str(d, "MACAddress"), expected[i].mac);
        const bool modem = std::string(expected[i].hardware) == "Modem";
        EXPECT_EQ(Str(d, "Type"), modem ? "PPP" : "Ethernet");
        EXPECT_EQ(Str(d, "SubType"), modem ? "PPPSerial" : "<none>");
        EXPECT_FALSE(d.Contains("HardwareVariant"));
    }
}

TEST(PortScanner, UsbModemWithoutProductNameIsUsbModem)
{
    // A USB modem whose parent device has no product name.
    KPorts::SerialPortInfo info;
    info.ttyName = "ttyACM1";
    info.baseName = "usbmodem";
    info.deviceName = "usbmodem";
    info.isModem = true; // no product name
    auto dev = KPorts::MakeSerialClientDevice(info);
    auto dict = PDictionary::CreateMutable();
    ASSERT_EQ(ModemOrSerialDeviceToDictProc(nullptr, *dev, *dict), kStatusOK);
    PRef<PString> name;
    ASSERT_EQ(CopyUserVisiblePortName(*dev, *dict, name), kStatusOK);
    EXPECT_EQ(name->UTF8(), "USB Modem");
    EXPECT_EQ(SortOrder(*dict), 1);
}

TEST(PortScanner, AnInterfaceWithoutBsdNameFailsTheWholeScan)
{
    SandboxRoot root;
    FakeSysfs sys(root.Path());
    BuildMachine(sys);
    // An interface name that is not text cannot be given as a BSD name.
    sys.Device("pci0000:00/0000:00:1c.5/0000:07:00.0", "pci");
    sys.Net("en\xff", "pci0000:00/0000:00:1c.5/0000:07:00.0", "00:11:22:33:44:55");

    PRef<PArray> ports;
    EXPECT_EQ(NetSCCreatePortArray(ports), -1);
    EXPECT_FALSE(ports);
}

TEST(PortScanner, OtherDevicesAndSerialPortsWithoutPropertiesFail)
{
    auto noProps = std::make_shared<const KPorts::Device>(std::vector<std::string>{"IOService"},
                                                          PDictionary::CreateMutable(), nullptr);
    auto serialNoType = std::make_shared<const KPorts::Device>(
        std::vector<std::string>{KPorts::kClassSerialBSDClient}, PDictionary::CreateMutable(), nullptr);
    auto dict = PDictionary::CreateMutable();
    PRef<PString> name;
    EXPECT_EQ(CopyUserVisiblePortName(*noProps, *dict, name), -1);
    EXPECT_FALSE(name);
    EXPECT_EQ(CopyUserVisiblePortName(*serialNoType, *dict, name), -1);
    EXPECT_EQ(EthernetDeviceToDictProc(nullptr, *noProps, *dict), -1);
    // The keys that do not depend on the name are still written.
    EXPECT_EQ(Str(*dict, "Hardware"), "Ethernet");
    // A serial port without a base name is skipped, not failed.
    auto empty = PDictionary::CreateMutable();
    EXPECT_EQ(ModemOrSerialDeviceToDictProc(nullptr, *serialNoType, *empty), kStatusOK);
    EXPECT_EQ(empty->Count(), 0u);
}

TEST(PortScanner, PlaceholdersAreReplacedFirstOccurrenceOnly)
{
    auto dev = std::make_shared<const KPorts::Device>(std::vector<std::string>{"IOService"},
                                                      PDictionary::CreateMutable(), nullptr);
    auto info = PDictionary::CreateMutable();
    info->Set("BSD Name", PStr("en1"));
    info->Set("AAPL,slot-name", PStr("3"));
    info->Set("IOChildIndex", PStr("2"));
    info->Set("IOTTYBaseName", PStr("ttys"));
    struct Case {
        const char* tmpl;
        const char* want;
    } cases[] = {
        {"Ethernet Adaptor (%1$@)", "Ethernet Adaptor (en1)"},
        {"%1$@ and %1$@", "en1 and %1$@"},
        {"PCI Ethernet Slot %2$@, Port %3$@", "PCI Ethernet Slot 3, Port 2"},
        {"%4$@-port", "ttys-port"},
        {"no placeholder", "no placeholder"},
    };
    for (const auto& c : cases) {
        PRef<PString> out;
        ASSERT_EQ(SubstituteKeywordsInUserVisibleName(*dev, *info, *PStr(c.tmpl), out), kStatusOK);
        EXPECT_EQ(out->UTF8(), c.want);
    }
}

TEST(PortScanner, SorterAndDataHelpers)
{
    auto a = PDictionary::CreateMutable();
    auto b = PDictionary::CreateMutable();
    a->Set("UserDefinedName", PStr("B"));
    b->Set("UserDefinedName", PStr("A"));
    EXPECT_EQ(SortOrder(*a), 100);
    EXPECT_GT(PortSorter(*a, *b), 0); // equal keys: by name
    a->Set("SortOrder", PNum(3));
    EXPECT_LT(PortSorter(*a, *b), 0); // 3 before the missing key's 100

    const uint8_t mac[] = {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc};
    EXPECT_EQ(CreateMACFromData(PData::Create(mac, 6).get())->UTF8(), "12:34:56:78:9a:bc");
    EXPECT_FALSE(CreateMACFromData(PData::Create(mac, 5).get()));
    const char slot[] = {'S', 'L', 'O', 'T', '-', '2', 0, 0};
    EXPECT_EQ(CreateStringFromData(PData::Create(slot, sizeof slot).get())->UTF8(), "SLOT-2");
    EXPECT_TRUE(CFEqualString(PStr("x").get(), PStr("x").get()));
    EXPECT_FALSE(CFEqualString(nullptr, nullptr));
}

TEST(PortScanner, CallbackMessageIsWrittenOncePerProcess)
{
    SandboxRoot root;
    FakeSysfs sys(root.Path());
    BuildMachine(sys);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(fds[1], 2);
        close(fds[0]);
        for (int i = 0; i < 2; ++i) {
            PRef<PArray> ports;
            if (NetSCCreatePortArray(ports) != kStatusOK) _exit(1);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string err;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) err.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(err, "NetSCFPortScanner: You should install a port name callback.\n");
}

} // namespace
