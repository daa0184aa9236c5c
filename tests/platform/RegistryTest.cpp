// The in-memory registry (paths, letter case, order of subkeys) and the view of the system
// built from fake os-release, cpuinfo, owner and PCI devices in a temporary folder.
#include "platform/Registry.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

const RegistryValue* Value(const Registry& registry, std::string_view key, std::string_view name) {
    const RegistryKey* found = registry.OpenKey(HKEY_LOCAL_MACHINE, key);
    return found != nullptr ? found->FindValue(name) : nullptr;
}

std::optional<std::string> Text(const Registry& registry, std::string_view key,
                                std::string_view name) {
    const RegistryValue* value = Value(registry, key, name);
    if (value == nullptr)
        return std::nullopt;
    EXPECT_EQ(value->Type, REG_SZ) << name;
    return value->Text;
}

// A system view whose every source is a file of the folder or a given fact.
struct FakeSystem {
    TempDir folder;
    SystemRegistrySources sources;
    FakeSystem() {
        sources.OsReleasePaths = {(folder / "os-release").string()};
        sources.CpuInfoPath = (folder / "cpuinfo").string();
        sources.PciDevices = std::vector<PciDeviceInfo>{};
        sources.OwnerGecos = "";
    }
};

} // namespace

TEST(Registry, KeysAndValuesIgnoreLetterCaseAndEmptyPathParts) {
    Registry registry;
    registry.SetString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Vendor\\Product", "Name", "text");
    registry.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product", "Count", 7);
    registry.SetExpandString(HKEY_LOCAL_MACHINE, "software\\vendor\\product", "Path", "%X%");

    for (const char* path : {"\\SOFTWARE\\Vendor\\Product", "software\\VENDOR\\product",
                             "SOFTWARE\\\\Vendor\\Product\\"}) {
        const RegistryKey* key = registry.OpenKey(HKEY_LOCAL_MACHINE, path);
        ASSERT_NE(key, nullptr) << path;
        ASSERT_NE(key->FindValue("NAME"), nullptr);
        EXPECT_EQ(key->FindValue("name")->Text, "text");
        EXPECT_EQ(key->FindValue("count")->Number, 7u);
        EXPECT_EQ(key->FindValue("Path")->Type, REG_EXPAND_SZ);
        EXPECT_EQ(key->FindValue("Missing"), nullptr);
    }
    EXPECT_EQ(registry.OpenKey(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Vendor\\Other"), nullptr);
    EXPECT_EQ(registry.OpenKey(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Vendo"), nullptr);
    EXPECT_EQ(registry.OpenKey(HKEY_CURRENT_USER, "\\SOFTWARE\\Vendor\\Product"), nullptr);
    // The same key under another spelling is the same key, not a second one.
    EXPECT_EQ(registry.OpenKey(HKEY_LOCAL_MACHINE, "\\SOFTWARE")->SubkeyNames(),
              std::vector<std::string>{"Vendor"});
}

TEST(Registry, SubkeysAreListedInOneStableOrderWithTheirOwnSpelling) {
    Registry registry;
    RegistryKey& key = registry.CreateKey(HKEY_LOCAL_MACHINE, "\\Class");
    for (const char* name : {"0010", "0002", "beta", "Alpha", "0000", "0001"})
        key.CreateSubkey(name);
    const std::vector<std::string> expected = {"0000", "0001", "0002", "0010", "Alpha", "beta"};
    EXPECT_EQ(key.SubkeyNames(), expected);
    EXPECT_EQ(&key.CreateSubkey("ALPHA"), key.FindSubkey("alpha"));
    EXPECT_EQ(key.SubkeyNames(), expected);
}

TEST(SystemRegistry, ProductNameFromOsRelease) {
    const struct {
        const char* content;
        std::optional<std::string> productName;
    } cases[] = {
        {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"NAME=Fedora\nVERSION=39\n", "Fedora"},
        {"PRETTY_NAME=\"\"\nNAME='Arch Linux'\n", "Arch Linux"},
        {"# comment\nPRETTY_NAME=\"Say \\\"hi\\\" \\$HOME\"\n", "Say \"hi\" $HOME"},
        {"PRETTY_NAME=\"Альт Рабочая станция 10\"\n",
         "\xC0\xEB\xFC\xF2 \xD0\xE0\xE1\xEE\xF7\xE0\xFF \xF1\xF2\xE0\xED\xF6\xE8\xFF 10"},
        {"PRETTY_NAME=\"Unterminated\n", "Unterminated"},
        {"VERSION_ID=12\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        FakeSystem system;
        WriteFile(system.folder / "os-release", c.content);
        const Registry registry = BuildSystemRegistry(system.sources);
        EXPECT_EQ(Text(registry, NtCurrentVersionKey, "ProductName"), c.productName) << c.content;
    }

    FakeSystem missing; // no os-release at all: the key is there, the value is not
    const Registry registry = BuildSystemRegistry(missing.sources);
    EXPECT_NE(registry.OpenKey(HKEY_LOCAL_MACHINE, NtCurrentVersionKey), nullptr);
    EXPECT_EQ(Text(registry, NtCurrentVersionKey, "ProductName"), std::nullopt);
}

TEST(SystemRegistry, ProcessorNameFromTheFirstModelNameLine) {
    const struct {
        std::string content;
        std::optional<std::string> name;
    } cases[] = {
        {"processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Xeon(R) CPU @ "
         "2.20GHz\n\nprocessor\t: 1\nmodel name\t: Second\n",
         "Intel(R) Xeon(R) CPU @ 2.20GHz"},
        {"model name:AMD Ryzen 7", "AMD Ryzen 7"},
        {"processor : 0\nBogoMIPS : 50.00\nCPU implementer : 0x41\n", std::nullopt}, // ARM
        {"model name\t: \n", std::nullopt},
        {"model name\t: Odd \xFF\xFE\x80 bytes\n", "Odd ??? bytes"},
        {std::string("model name\t: A\0B\n", 17), std::string("A\0B", 3)},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        FakeSystem system;
        WriteFile(system.folder / "cpuinfo", c.content);
        const Registry registry = BuildSystemRegistry(system.sources);
        EXPECT_EQ(Text(registry, CentralProcessorKey, "ProcessorNameString"), c.name) << c.content;
    }
    FakeSystem missing;
    EXPECT_EQ(
        Text(BuildSystemRegistry(missing.sources), CentralProcessorKey, "ProcessorNameString"),
        std::nullopt);
}

TEST(SystemRegistry, OwnerIsTheFullNameBeforeTheFirstComma) {
    const struct {
        const char* gecos;
        std::optional<std::string> owner;
    } cases[] = {
        {"Ivan Petrov,,,", "Ivan Petrov"},
        {"Иван Петров,Room 5,123", "\xC8\xE2\xE0\xED \xCF\xE5\xF2\xF0\xEE\xE2"},
        {"Plain", "Plain"},
        {",,,", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        FakeSystem system;
        system.sources.OwnerGecos = c.gecos;
        EXPECT_EQ(Text(BuildSystemRegistry(system.sources), NtCurrentVersionKey, "RegisteredOwner"),
                  c.owner)
            << c.gecos;
    }
}

TEST(SystemRegistry, PciDevicesFillTheSystemAndDisplayClassesInBusOrder) {
    FakeSystem system;
    system.sources.PciDevices = std::vector<PciDeviceInfo>{
        {0x0600, "Intel Corporation 440FX - 82441FX PMC [Natoma]"},
        {0x0300, "Cirrus Logic GD 5446"},
        {0x0c03, "Intel Corporation 82371SB PIIX3 USB [Natoma/Triton II]"},
        {0x0880, "Red Hat, Inc. Virtio RNG"},
        {0x0601, "Intel Corporation 82371SB PIIX3 ISA [Natoma/Triton II]"},
        {0x0302, "NVIDIA Corporation GA102GL [A10]"},
        {0x0604, "  "},
    };
    const Registry registry = BuildSystemRegistry(system.sources);
    const RegistryKey* systemClass = registry.OpenKey(HKEY_LOCAL_MACHINE, SystemDeviceClassKey);
    const RegistryKey* displayClass = registry.OpenKey(HKEY_LOCAL_MACHINE, DisplayDeviceClassKey);
    ASSERT_NE(systemClass, nullptr);
    ASSERT_NE(displayClass, nullptr);

    const std::vector<std::string> systemNames = {"0000", "0001", "0002", "0003"};
    ASSERT_EQ(systemClass->SubkeyNames(), systemNames);
    EXPECT_EQ(systemClass->FindSubkey("0000")->FindValue("DriverDesc")->Text,
              "Intel Corporation 440FX - 82441FX PMC [Natoma]");
    EXPECT_EQ(systemClass->FindSubkey("0001")->FindValue("DriverDesc")->Text,
              "Red Hat, Inc. Virtio RNG");
    EXPECT_EQ(systemClass->FindSubkey("0002")->FindValue("DriverDesc")->Text,
              "Intel Corporation 82371SB PIIX3 ISA [Natoma/Triton II]");
    EXPECT_EQ(systemClass->FindSubkey("0003")->FindValue("DriverDesc"), nullptr); // no name

    ASSERT_EQ(displayClass->SubkeyNames(), (std::vector<std::string>{"0000", "0001"}));
    EXPECT_EQ(displayClass->FindSubkey("0000")->FindValue("DriverDesc")->Text,
              "Cirrus Logic GD 5446");
    EXPECT_EQ(displayClass->FindSubkey("0001")->FindValue("DriverDesc")->Type, REG_SZ);
}

TEST(SystemRegistry, NoDevicesLeavesEmptyClassKeysAndThereIsNo9xKey) {
    FakeSystem system;
    const Registry registry = BuildSystemRegistry(system.sources);
    for (std::string_view key : {SystemDeviceClassKey, DisplayDeviceClassKey}) {
        ASSERT_NE(registry.OpenKey(HKEY_LOCAL_MACHINE, key), nullptr) << key;
        EXPECT_TRUE(registry.OpenKey(HKEY_LOCAL_MACHINE, key)->SubkeyNames().empty()) << key;
    }
    EXPECT_EQ(
        registry.OpenKey(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"),
        nullptr);
}

// The view of this very machine: whatever it has, the shape is the one identification reads.
TEST(SystemRegistry, ThisSystemsViewHasTheNtShape) {
    const Registry& view = SystemRegistryView();
    EXPECT_EQ(&view, &SystemRegistryView()); // built once
    EXPECT_EQ(&CurrentRegistry(), &view);
    EXPECT_NE(view.OpenKey(HKEY_LOCAL_MACHINE, NtCurrentVersionKey), nullptr);
    EXPECT_NE(view.OpenKey(HKEY_LOCAL_MACHINE, CentralProcessorKey), nullptr);
    EXPECT_EQ(view.OpenKey(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"),
              nullptr);
    const auto devices = ListPciDevices();
    std::size_t shown = 0;
    for (const PciDeviceInfo& device : devices)
        shown += (device.ClassCode >> 8) == 0x03;
    EXPECT_EQ(view.OpenKey(HKEY_LOCAL_MACHINE, DisplayDeviceClassKey)->SubkeyNames().size(), shown);

    Registry mine;
    SetCurrentRegistry(&mine);
    EXPECT_EQ(&CurrentRegistry(), &mine);
    SetCurrentRegistry(nullptr);
    EXPECT_EQ(&CurrentRegistry(), &view);
}
