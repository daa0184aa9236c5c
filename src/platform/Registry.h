// A read-only registry as the program reads it: keys under a root, subkeys listed in a
// stable order (by name, without regard to letter case) and typed values. Key paths and
// value names compare without regard to ASCII letter case, as Windows compares them. Texts
// are held as the program stores text: code page 1251 bytes.
//
// The program reads the view of this Linux system (SystemRegistryView, built once); tests
// fill a Registry of their own and install it with SetCurrentRegistry.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum HKEY : std::uint32_t {
    HKEY_CLASSES_ROOT = 0x80000000u,
    HKEY_CURRENT_USER = 0x80000001u,
    HKEY_LOCAL_MACHINE = 0x80000002u,
    HKEY_USERS = 0x80000003u,
};

// Value types with their Windows numbers.
enum RegistryType : std::uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_MULTI_SZ = 7,
};

struct RegistryValue {
    RegistryType Type = REG_NONE;
    std::string Text;         // REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ; other bytes for the rest
    std::uint32_t Number = 0; // REG_DWORD
};

struct RegistryNameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

class RegistryKey {
public:
    // The subkey of that name, created where missing.
    RegistryKey& CreateSubkey(std::string_view name);
    const RegistryKey* FindSubkey(std::string_view name) const;
    // Names as they were created, ordered without regard to case.
    std::vector<std::string> SubkeyNames() const;

    void SetValue(std::string_view name, RegistryValue value);
    const RegistryValue* FindValue(std::string_view name) const;

private:
    std::map<std::string, std::unique_ptr<RegistryKey>, RegistryNameLess> subkeys_;
    std::map<std::string, RegistryValue, RegistryNameLess> values_;
};

class Registry {
public:
    // The key at path under root ("\A\B" or "A\B"; empty parts are ignored), created with
    // every missing key on the way.
    RegistryKey& CreateKey(HKEY root, std::string_view path);
    // The key at path, or null where any part of it is missing.
    const RegistryKey* OpenKey(HKEY root, std::string_view path) const;

    void SetString(HKEY root, std::string_view path, std::string_view name, std::string text);
    void SetExpandString(HKEY root, std::string_view path, std::string_view name, std::string text);
    void SetDword(HKEY root, std::string_view path, std::string_view name, std::uint32_t number);

private:
    std::map<std::uint32_t, RegistryKey> roots_;
};

// The registry that ReadRegistryText reads: the system view unless a test installed another.
const Registry& CurrentRegistry();
// Installs registry (owned by the caller) as the current one; null goes back to the system
// view.
void SetCurrentRegistry(const Registry* registry);

// ---- The view of this system ----------------------------------------------------------------

// One PCI function: its class (base class << 8 | subclass) and its name as lspci prints it
// ("Vendor Device"), in UTF-8.
struct PciDeviceInfo {
    std::uint16_t ClassCode = 0;
    std::string Name;
};

// Where the system view takes its facts from. Tests point the files into a temporary folder
// and hand in devices and the owner; by default the system itself is asked.
struct SystemRegistrySources {
    // The first of these that can be read is the os-release file.
    std::vector<std::string> OsReleasePaths = {"/etc/os-release", "/usr/lib/os-release"};
    std::string CpuInfoPath = "/proc/cpuinfo";
    std::optional<std::vector<PciDeviceInfo>> PciDevices; // none: ask libpci
    std::optional<std::string> OwnerGecos;                // none: the password database
};

inline constexpr std::string_view NtCurrentVersionKey =
    "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
inline constexpr std::string_view CentralProcessorKey =
    "\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
inline constexpr std::string_view SystemDeviceClassKey =
    "\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E97D-E325-11CE-BFC1-08002BE10318}";
inline constexpr std::string_view DisplayDeviceClassKey =
    "\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}";

// The NT keys that system identification reads, filled from the sources; a fact that cannot
// be found leaves its value absent.
Registry BuildSystemRegistry(const SystemRegistrySources& sources = {});
// The registry view of this system, built on first use.
const Registry& SystemRegistryView();

// Every PCI function of this computer in bus order; empty where PCI cannot be read.
std::vector<PciDeviceInfo> ListPciDevices();
// The values of an os-release file (KEY=value lines, shell-style quoting), in UTF-8.
std::map<std::string, std::string> ParseOsRelease(std::string_view content);
