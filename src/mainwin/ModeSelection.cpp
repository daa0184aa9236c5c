#include "mainwin/ModeSelection.h"

#include "series/Accelerations.h"

std::vector<std::string> AccelerationItems(const TComputerRecord& computer, bool direct3DMissing) {
    std::vector<std::string> items;
    for (const TAccelerationChoice choice : AccelerationChoices(computer, direct3DMissing))
        items.push_back(AccelerationCaption(choice));
    return items;
}

std::optional<TScopeChange> ScopeChange(int scopeIndex, int accelerationCount,
                                        int accelerationIndex) {
    if (scopeIndex == 0)
        return TScopeChange{false, accelerationCount > 1 ? 0 : accelerationIndex, true};
    if (scopeIndex == 1)
        return TScopeChange{true, accelerationCount == 3 ? 1 : accelerationIndex, false};
    return std::nullopt;
}
