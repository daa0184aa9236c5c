// Runs system identification without a window and prints what the program stores about this
// computer: the fields of its description, unscrambled, and its device list.
//
//     show_computer
#include "ToolArguments.h"
#include "platform/Cp1251.h"
#include "render/DirectXGraphics.h"
#include "series/Identification.h"
#include "state/Variables.h"

#include <QApplication>
#include <cstdio>
#include <string>

namespace {

void PrintField(const char* name, const TStringSlot& field) {
    std::printf("%-14s %s\n", name, Cp1251ToUtf8(ShownText(field)).c_str());
}

const char* DeviceTypeName(D3DDEVTYPE type) {
    switch (type) {
    case D3DDEVTYPE_HAL:
        return "HAL";
    case D3DDEVTYPE_REF:
        return "REF";
    case D3DDEVTYPE_SW:
        return "SW";
    }
    return "none";
}

void PrintCaps(const char* name, const D3DCAPS8& caps) {
    std::printf("%-14s DeviceType=%s (%u) DevCaps=0x%08X%s\n", name,
                DeviceTypeName(caps.DeviceType), static_cast<unsigned>(caps.DeviceType),
                static_cast<unsigned>(caps.DevCaps),
                (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0 ? " (hardware T&L)" : "");
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    if (const auto status = ReadToolArguments(
            parser, "show_computer",
            "Identifies this computer as the program does at start and prints what it stores.",
            argc, argv, 0, 0))
        return *status;
    LoadDirect3DLibrary();
    {
        // The runtime answers the adapter's questions through the toolkit's OpenGL.
        QApplication application(argc, argv);
        std::printf("Measuring the processor clock (about 3 seconds)...\n");
        IdentifyAndRegisterComputer();

        PrintField("Processor", CurrentComputer.Processor);
        PrintField("VideoAdapter", CurrentComputer.VideoAdapter);
        PrintField("Chipset", CurrentComputer.Chipset);
        PrintField("MemoryMB", CurrentComputer.MemoryMB);
        PrintField("OSName", CurrentComputer.OSName);
        PrintField("Owner", CurrentComputer.Owner);
        PrintField("TimeZone", CurrentComputer.TimeZone);
        PrintField("RecordTag", CurrentComputer.RecordTag);
        PrintCaps("HalCaps", CurrentComputer.HalCaps);
        PrintCaps("RefCaps", CurrentComputer.RefCaps);
        std::printf("Direct3D 8     %s\n", Direct3DMissing ? "missing" : "present");
        std::printf("Devices:\n");
        for (const TStringSlot& line : ComputerDevices[CurrentComputerIndex])
            std::printf("%s\n", Cp1251ToUtf8(ShownText(line)).c_str());
    }
    FreeDirect3DLibrary();
    return 0;
}
