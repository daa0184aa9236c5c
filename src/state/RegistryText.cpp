// A registry value as the text a computer field stores.
#include "state/Variables.h"

#include "platform/Registry.h"

#include <algorithm>
#include <string>

TStringSlot ReadRegistryText(HKEY root, std::string_view keyPath, std::string_view valueName) {
    std::string text;
    const RegistryKey* key = CurrentRegistry().OpenKey(root, keyPath);
    const RegistryValue* value = key != nullptr ? key->FindValue(valueName) : nullptr;
    if (value != nullptr && value->Type == REG_SZ) {
        // A stored string ends at its first zero, as the registry hands it back.
        text = value->Text.substr(0, std::min(value->Text.find('\0'), std::size_t{255}));
    } else if (value != nullptr && value->Type == REG_DWORD) {
        text = std::to_string(value->Number);
    }
    if (text.empty())
        text = NotDetermined;
    return ScrambleText(MakeStringSlot(text));
}
