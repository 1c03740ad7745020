#include "platform/ports/KPorts.h"

#include "support/FakeSysfs.h"

#include <gtest/gtest.h>

namespace {

class PortsTest : public ::testing::Test {
protected:
    SandboxRoot root;
    FakeSysfs sys{root.Path()};

    // A USB modem behind a usb-serial converter: the product file sits two levels up.
    void UsbSerialModem(const std::string& tty, const std::string& usbDev, const std::string& product)
    {
        const std::string dev = "pci0000:00/0000:00:14.0/usb1/" + usbDev;
        auto d = sys.Device(dev, "usb");
        if (!product.empty()) sys.Attribute(d, "product", product);
        sys.Device(dev + "/" + usbDev + ":1.0", "usb"); // the interface: usb bus, no product
        sys.Device(dev + "/" + usbDev + ":1.0/" + tty, "usb-serial");
        sys.Tty(tty, dev + "/" + usbDev + ":1.0/" + tty);
    }
    void PcCardModem(const std::string& tty)
    {
        sys.Device("pci0000:00/0000:00:1e.0/pcmcia_socket0/0.0", "pcmcia");
        sys.Tty(tty, "pci0000:00/0000:00:1e.0/pcmcia_socket0/0.0");
    }
    void PlatformSerial(const std::string& tty)
    {
        sys.Device("platform/serial8250", "platform");
        sys.Tty(tty, "platform/serial8250");
    }
};

TEST_F(PortsTest, SerialPortsAreNamedByTheFirstMatchingFolderOnTheWayUp)
{
    PcCardModem("ttyS4");
    UsbSerialModem("ttyUSB0", "1-1", "Slipper (PHS) v2");
    UsbSerialModem("ttyUSB1", "1-2", ""); // a USB adapter without a product text stays RS-232
    PlatformSerial("ttyS0");
    sys.VirtualTty("tty1");

    std::vector<KPorts::SerialPortInfo> ports;
    ASSERT_EQ(KPorts::ListSerialPorts(ports), kStatusOK);
    struct Row {
        const char* tty;
        const char* base;
        const char* device;
        bool modem;
        const char* product;
    };
    const Row expected[] = {
        {"ttyS0", "ttyS", "ttyS0", false, nullptr},
        {"ttyS4", "pccard-modem", "pccard-modem", true, nullptr},
        {"ttyUSB0", "usbmodem", "usbmodemSlipperPHSv2", true, "Slipper (PHS) v2"},
        {"ttyUSB1", "ttyUSB", "ttyUSB1", false, nullptr},
    };
    ASSERT_EQ(ports.size(), std::size(expected));
    for (size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(expected[i].tty);
        EXPECT_EQ(ports[i].ttyName, expected[i].tty);
        EXPECT_EQ(ports[i].path, root.Path() + "/dev/" + expected[i].tty);
        EXPECT_EQ(ports[i].baseName, expected[i].base);
        EXPECT_EQ(ports[i].deviceName, expected[i].device);
        EXPECT_EQ(ports[i].isModem, expected[i].modem);
        EXPECT_EQ(ports[i].productName.has_value(), expected[i].product != nullptr);
        if (expected[i].product) {
            EXPECT_EQ(*ports[i].productName, expected[i].product);
        }
    }
}

TEST_F(PortsTest, PortsAreListedInNumericNameOrder)
{
    sys.Device("platform/serial8250", "platform");
    for (const char* n : {"ttyS10", "ttyS9", "ttyS1", "ttyS0"}) sys.Tty(n, "platform/serial8250");
    std::vector<KPorts::PortRecord> ports;
    ASSERT_EQ(KPorts::ListPorts(ports), kStatusOK);
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].moduleName, "ttyS0");
    EXPECT_EQ(ports[1].moduleName, "ttyS1");
    EXPECT_EQ(ports[2].moduleName, "ttyS9");
    EXPECT_EQ(ports[3].moduleName, "ttyS10");
    for (const auto& p : ports) {
        EXPECT_EQ(p.deviceType, KPorts::kDeviceTypeSerial);
        EXPECT_EQ(p.infoFlags & KPorts::kPortIsAlias, 0u);
    }
}

TEST_F(PortsTest, DiscoveryTakesTheFirstQualifyingPort)
{
    PlatformSerial("ttyS0");
    UsbSerialModem("ttyUSB0", "1-1", "Other Modem");
    UsbSerialModem("ttyUSB1", "1-2", "Slipper");
    PcCardModem("ttyS3");

    KPorts::PortRecord card;
    ASSERT_TRUE(KPorts::FindCardPort(card));
    // ttyS3 comes before ttyUSB1 in name order, so the PC Card wins.
    EXPECT_EQ(card.portName, root.Path() + "/dev/ttyS3");
    EXPECT_EQ(card.moduleName, "pccard-modem");
}

TEST_F(PortsTest, CardPortRule)
{
    struct Case {
        const char* module;
        uint16_t type;
        uint32_t flags;
        bool card;
    } cases[] = {
        {"pccard-modem", 9, 0, true},
        {"usbmodemSlipper", 9, 0, true},
        {"usbmodemSlipperII", 9, 0, true}, // a substring test
        {"xpccard-modemx", 9, 0, true},
        {"usbmodemslipper", 9, 0, false}, // exact case
        {"ttyS0", 9, 0, false},
        {"pccard-modem", 10, 0, false},
        {"pccard-modem", 9, KPorts::kPortIsAlias, false},
        {"pccard-modem", 9, 0x40000000u, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        KPorts::PortRecord p{"/dev/x", c.module, c.type, c.flags};
        EXPECT_EQ(KPorts::PortIsCardPort(p), c.card);
    }
}

TEST_F(PortsTest, NoCardAndNoSysfsAreNotErrors)
{
    PlatformSerial("ttyS0");
    KPorts::PortRecord card;
    EXPECT_FALSE(KPorts::FindCardPort(card));

    fs::remove_all(sys.Sys());
    std::vector<KPorts::SerialPortInfo> ports;
    std::vector<KPorts::NetInterfaceInfo> ifs;
    EXPECT_EQ(KPorts::ListSerialPorts(ports), kStatusOK);
    EXPECT_EQ(KPorts::ListNetInterfaces(ifs), kStatusOK);
    EXPECT_TRUE(ports.empty());
    EXPECT_TRUE(ifs.empty());
}

TEST_F(PortsTest, NetworkInterfaceFacts)
{
    sys.Device("pci0000:00/0000:00:19.0", "pci");
    sys.Net("eno1", "pci0000:00/0000:00:19.0", "00:1b:21:aa:bb:cc");
    // A two-function card in slot 2: the second function is port 2.
    sys.Device("pci0000:00/0000:00:1c.0/0000:03:00.0", "pci");
    sys.Device("pci0000:00/0000:00:1c.0/0000:03:00.1", "pci");
    sys.Net("enp3s0f1", "pci0000:00/0000:00:1c.0/0000:03:00.1", "00:1b:21:00:00:02");
    sys.PciSlot("SLOT-2", "0000:03:00");
    sys.Device("pci0000:00/0000:00:1c.1/0000:04:00.0", "pci");
    sys.Net("wlp4s0", "pci0000:00/0000:00:1c.1/0000:04:00.0", "a0:b1:c2:d3:e4:f5", true);
    sys.Device("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0", "usb");
    sys.Net("wwan0", "pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0", "00:00:00:00:00:00:00:00", false, true);
    sys.Net("lo", "", "00:00:00:00:00:00");

    std::vector<KPorts::NetInterfaceInfo> ifs;
    ASSERT_EQ(KPorts::ListNetInterfaces(ifs), kStatusOK);
    ASSERT_EQ(ifs.size(), 4u);
    EXPECT_EQ(ifs[0].name, "eno1");
    EXPECT_TRUE(ifs[0].pci);
    EXPECT_FALSE(ifs[0].childIndex.has_value()); // a single function has no child index
    EXPECT_FALSE(ifs[0].slotName.has_value());
    EXPECT_EQ(*ifs[0].hardwareAddress, (std::vector<uint8_t>{0x00, 0x1b, 0x21, 0xaa, 0xbb, 0xcc}));

    EXPECT_EQ(ifs[1].name, "enp3s0f1");
    EXPECT_EQ(ifs[1].slotName.value_or(""), "SLOT-2");
    EXPECT_EQ(ifs[1].childIndex.value_or(-1), 1);

    EXPECT_EQ(ifs[2].name, "wlp4s0");
    EXPECT_TRUE(ifs[2].airPort);

    EXPECT_EQ(ifs[3].name, "wwan0");
    EXPECT_TRUE(ifs[3].radio);
    EXPECT_FALSE(ifs[3].pci);
    EXPECT_EQ(ifs[3].hardwareAddress->size(), 8u);

    EXPECT_TRUE(KPorts::IsBuiltInInterfaceName("eno1"));
    EXPECT_TRUE(KPorts::IsBuiltInInterfaceName("eth0"));
    EXPECT_FALSE(KPorts::IsBuiltInInterfaceName("eth1"));
}

TEST_F(PortsTest, RegistryMatchesByClassAndProperties)
{
    PlatformSerial("ttyS0");
    PcCardModem("ttyS4");
    auto match = PDictionary::CreateMutable();
    match->Set("IOProviderClass", PStr(KPorts::kClassSerialBSDClient));
    match->Set("IOSerialBSDClientType", PStr(KPorts::kModemSerialStream));
    std::vector<KPorts::DeviceRef> devs;
    ASSERT_EQ(KPorts::CopyMatchingDevices(*match, devs), kStatusOK);
    ASSERT_EQ(devs.size(), 1u);
    EXPECT_TRUE(devs[0]->ConformsTo(KPorts::kClassSerialBSDClient));
    auto dev = PRefCast<PString>(devs[0]->CopyProperty("IOTTYDevice"));
    ASSERT_TRUE(dev);
    EXPECT_EQ(dev->UTF8(), "pccard-modem");
}

} // namespace
