// Prints the registry view of this computer as system identification reads it: product
// name, owner, processor, and the system and display devices.
//
//     show_registry
#include "ToolArguments.h"
#include "platform/Cp1251.h"
#include "platform/Registry.h"

#include <cstdio>
#include <string>

namespace {

std::string Shown(const RegistryKey* key, std::string_view name) {
    const RegistryValue* value = key != nullptr ? key->FindValue(name) : nullptr;
    if (value == nullptr)
        return "(absent)";
    if (value->Type == REG_DWORD)
        return std::to_string(value->Number);
    std::string quoted(1, '"');
    quoted += Cp1251ToUtf8(value->Text);
    quoted += '"';
    return quoted;
}

void PrintValue(const Registry& registry, std::string_view key, std::string_view name) {
    std::printf("HKLM%.*s\n    %.*s = %s\n", int(key.size()), key.data(), int(name.size()),
                name.data(), Shown(registry.OpenKey(HKEY_LOCAL_MACHINE, key), name).c_str());
}

void PrintDevices(const Registry& registry, std::string_view classKey) {
    std::printf("HKLM%.*s\n", int(classKey.size()), classKey.data());
    const RegistryKey* key = registry.OpenKey(HKEY_LOCAL_MACHINE, classKey);
    if (key == nullptr) {
        std::printf("    (no key)\n");
        return;
    }
    for (const std::string& name : key->SubkeyNames())
        std::printf("    %s\\DriverDesc = %s\n", name.c_str(),
                    Shown(key->FindSubkey(name), "DriverDesc").c_str());
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    if (const auto status = ReadToolArguments(
            parser, "show_registry",
            "Prints the registry view of this computer that its identification reads.", argc, argv,
            0, 0))
        return *status;
    const Registry& registry = SystemRegistryView();
    PrintValue(registry, NtCurrentVersionKey, "ProductName");
    PrintValue(registry, NtCurrentVersionKey, "RegisteredOwner");
    PrintValue(registry, CentralProcessorKey, "ProcessorNameString");
    PrintDevices(registry, SystemDeviceClassKey);
    PrintDevices(registry, DisplayDeviceClassKey);
    const bool has9x =
        registry.OpenKey(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
    std::printf("Windows family: %s\n", has9x ? "9x" : "NT");
    return 0;
}
