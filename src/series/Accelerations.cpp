#include "series/Accelerations.h"

bool HasHalDevice(const D3DCAPS8& halCaps) {
    return halCaps.DeviceType != 0;
}

bool HasHardwareTransform(const D3DCAPS8& halCaps) {
    return (halCaps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0;
}

std::vector<TAccelerationChoice> AccelerationChoices(const TComputerRecord& computer,
                                                     bool direct3DMissing) {
    if (direct3DMissing)
        return {};
    if (!HasHalDevice(computer.HalCaps))
        return {TAccelerationChoice::Emulation};
    if (HasHardwareTransform(computer.HalCaps))
        return {TAccelerationChoice::HwAndSw, TAccelerationChoice::Hw, TAccelerationChoice::Sw};
    return {TAccelerationChoice::Sw};
}

const char* AccelerationCaption(TAccelerationChoice choice) {
    switch (choice) {
    case TAccelerationChoice::HwAndSw:
        return "Аппаратное и программное";
    case TAccelerationChoice::Hw:
        return "Аппаратное";
    case TAccelerationChoice::Sw:
        return "Программное";
    case TAccelerationChoice::Emulation:
        break;
    }
    return "Программная эмуляция";
}

const char* AccelerationWord(TAccelerationChoice choice) {
    switch (choice) {
    case TAccelerationChoice::HwAndSw:
        return "hw+sw";
    case TAccelerationChoice::Hw:
        return "hw";
    case TAccelerationChoice::Sw:
        return "sw";
    case TAccelerationChoice::Emulation:
        break;
    }
    return "emulation";
}
