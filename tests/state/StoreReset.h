// Puts the shared state back to how the program starts, and gives the test a registry of its
// own, so that every test identifies a computer from known facts.
#pragma once

#include "platform/Registry.h"
#include "state/Variables.h"

#include <cstring>

struct StartState {
    Registry registry;

    StartState() {
        Computers.clear();
        ComputerDevices.clear();
        ComputerResults.clear();
        CurrentComputer = TComputerRecord{};
        CurrentComputerIndex = 0;
        std::memset(ModeAvailable, 0, sizeof ModeAvailable);
        Direct3DMissing = false;
        ResultsChanged = false;
        SetCurrentRegistry(&registry);
    }
    ~StartState() {
        SetCurrentRegistry(nullptr);
        Computers.clear();
        ComputerDevices.clear();
        ComputerResults.clear();
    }
    StartState(const StartState&) = delete;
    StartState& operator=(const StartState&) = delete;

    // A subkey "NNNN" with a DriverDesc under a device class key.
    void AddDevice(std::string_view classKey, int number, std::string description) {
        char name[8];
        std::snprintf(name, sizeof name, "%04d", number);
        registry.SetString(HKEY_LOCAL_MACHINE, std::string(classKey) + "\\" + name, "DriverDesc",
                           std::move(description));
    }
};
