// The registry view of this Linux system: the NT keys that system identification reads,
// with values from os-release, the password database, /proc/cpuinfo and libpci.
#include "platform/Cp1251.h"
#include "platform/Registry.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <tuple>
#include <unistd.h>

extern "C" {
#include <pci/pci.h>
}

namespace {

std::string_view Trim(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream content;
    content << file.rdbuf();
    return std::move(content).str();
}

// "model name : ..." of the first processor.
std::string ProcessorName(std::string_view cpuinfo) {
    while (!cpuinfo.empty()) {
        const std::size_t end = std::min(cpuinfo.find('\n'), cpuinfo.size());
        const std::string_view line = cpuinfo.substr(0, end);
        cpuinfo.remove_prefix(std::min(end + 1, cpuinfo.size()));
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && Trim(line.substr(0, colon)) == "model name")
            return std::string(Trim(line.substr(colon + 1)));
    }
    return {};
}

std::string OwnerGecosFromPasswordDatabase() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    while (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    return found != nullptr && found->pw_gecos != nullptr ? found->pw_gecos : "";
}

// libpci reports a fatal error through a callback that must not return; it jumps back into
// ScanPci, which holds nothing that needs a destructor.
std::jmp_buf PciFailure;

[[noreturn]] void PciError(char*, ...) {
    std::longjmp(PciFailure, 1);
}

void PciQuiet(char*, ...) {}

struct PciFunction {
    int domain, bus, device, function;
    PciDeviceInfo info;
};

bool ScanPci(pci_access* access, std::vector<PciFunction>* found) {
    if (setjmp(PciFailure) != 0)
        return false;
    pci_init(access);
    pci_scan_bus(access);
    for (pci_dev* device = access->devices; device != nullptr; device = device->next) {
        pci_fill_info(device, PCI_FILL_IDENT | PCI_FILL_CLASS);
        char name[512];
        const char* text =
            pci_lookup_name(access, name, sizeof name, PCI_LOOKUP_VENDOR | PCI_LOOKUP_DEVICE,
                            device->vendor_id, device->device_id);
        found->push_back({device->domain,
                          device->bus,
                          device->dev,
                          device->func,
                          {device->device_class, text != nullptr ? text : ""}});
    }
    return true;
}

void AddDevices(Registry& registry, std::string_view classKey,
                const std::vector<PciDeviceInfo>& devices,
                std::initializer_list<unsigned> baseClasses) {
    RegistryKey& key = registry.CreateKey(HKEY_LOCAL_MACHINE, classKey);
    int index = 0;
    for (const PciDeviceInfo& device : devices) {
        if (std::find(baseClasses.begin(), baseClasses.end(), device.ClassCode >> 8) ==
            baseClasses.end())
            continue;
        char subkey[16];
        std::snprintf(subkey, sizeof subkey, "%04d", index++);
        RegistryKey& entry = key.CreateSubkey(subkey);
        const std::string name = Utf8ToCp1251(Trim(device.Name));
        if (!name.empty())
            entry.SetValue("DriverDesc", {REG_SZ, name, 0});
    }
}

void SetText(Registry& registry, std::string_view key, std::string_view name,
             std::string_view utf8) {
    RegistryKey& target = registry.CreateKey(HKEY_LOCAL_MACHINE, key);
    const std::string text = Utf8ToCp1251(Trim(utf8));
    if (!text.empty())
        target.SetValue(name, {REG_SZ, text, 0});
}

} // namespace

std::map<std::string, std::string> ParseOsRelease(std::string_view content) {
    std::map<std::string, std::string> values;
    while (!content.empty()) {
        const std::size_t end = std::min(content.find('\n'), content.size());
        const std::string_view line = Trim(content.substr(0, end));
        content.remove_prefix(std::min(end + 1, content.size()));
        const std::size_t equals = line.find('=');
        if (line.empty() || line.front() == '#' || equals == std::string_view::npos)
            continue;
        const std::string_view raw = line.substr(equals + 1);
        std::string value;
        if (!raw.empty() && (raw.front() == '"' || raw.front() == '\'')) {
            const char quote = raw.front();
            for (std::size_t i = 1; i < raw.size() && raw[i] != quote; ++i) {
                // Inside double quotes a backslash keeps the next of $ ` " \ literally.
                if (quote == '"' && raw[i] == '\\' && i + 1 < raw.size() &&
                    std::string_view("$`\"\\").find(raw[i + 1]) != std::string_view::npos)
                    ++i;
                value.push_back(raw[i]);
            }
        } else {
            value.assign(raw);
        }
        values[std::string(Trim(line.substr(0, equals)))] = std::move(value);
    }
    return values;
}

std::vector<PciDeviceInfo> ListPciDevices() {
    std::vector<PciFunction> found;
    pci_access* access = pci_alloc();
    if (access == nullptr)
        return {};
    access->error = PciError;
    access->warning = PciQuiet;
    access->debug = PciQuiet;
    if (!ScanPci(access, &found))
        found.clear();
    pci_cleanup(access);
    std::sort(found.begin(), found.end(), [](const PciFunction& a, const PciFunction& b) {
        return std::tie(a.domain, a.bus, a.device, a.function) <
               std::tie(b.domain, b.bus, b.device, b.function);
    });
    std::vector<PciDeviceInfo> devices;
    for (PciFunction& function : found)
        devices.push_back(std::move(function.info));
    return devices;
}

Registry BuildSystemRegistry(const SystemRegistrySources& sources) {
    Registry registry;

    std::string productName;
    for (const std::string& path : sources.OsReleasePaths) {
        if (const auto content = ReadFile(path)) {
            const auto values = ParseOsRelease(*content);
            for (const char* key : {"PRETTY_NAME", "NAME"}) {
                const auto found = values.find(key);
                if (found != values.end() && !Trim(found->second).empty()) {
                    productName = found->second;
                    break;
                }
            }
            break;
        }
    }
    SetText(registry, NtCurrentVersionKey, "ProductName", productName);

    std::string gecos = sources.OwnerGecos ? *sources.OwnerGecos : OwnerGecosFromPasswordDatabase();
    SetText(registry, NtCurrentVersionKey, "RegisteredOwner",
            std::string_view(gecos).substr(0, gecos.find(',')));

    const auto cpuinfo = ReadFile(sources.CpuInfoPath);
    SetText(registry, CentralProcessorKey, "ProcessorNameString",
            cpuinfo ? ProcessorName(*cpuinfo) : std::string());

    const std::vector<PciDeviceInfo> devices =
        sources.PciDevices ? *sources.PciDevices : ListPciDevices();
    AddDevices(registry, SystemDeviceClassKey, devices, {0x06, 0x08});
    AddDevices(registry, DisplayDeviceClassKey, devices, {0x03});
    return registry;
}

const Registry& SystemRegistryView() {
    static const Registry view = BuildSystemRegistry();
    return view;
}
