#include "platform/Registry.h"

#include <algorithm>

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Calls part for every non-empty part of a backslash-separated path; stops when it returns
// false.
template <typename Visit> bool ForEachPart(std::string_view path, Visit part) {
    while (!path.empty()) {
        const std::size_t end = std::min(path.find('\\'), path.size());
        if (end > 0 && !part(path.substr(0, end)))
            return false;
        path.remove_prefix(std::min(end + 1, path.size()));
    }
    return true;
}

const Registry* Installed = nullptr;

} // namespace

bool RegistryNameLess::operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(LowerAscii(x)) <
               static_cast<unsigned char>(LowerAscii(y));
    });
}

RegistryKey& RegistryKey::CreateSubkey(std::string_view name) {
    auto found = subkeys_.find(name);
    if (found == subkeys_.end())
        found = subkeys_.emplace(std::string(name), std::make_unique<RegistryKey>()).first;
    return *found->second;
}

const RegistryKey* RegistryKey::FindSubkey(std::string_view name) const {
    const auto found = subkeys_.find(name);
    return found == subkeys_.end() ? nullptr : found->second.get();
}

std::vector<std::string> RegistryKey::SubkeyNames() const {
    std::vector<std::string> names;
    names.reserve(subkeys_.size());
    for (const auto& entry : subkeys_)
        names.push_back(entry.first);
    return names;
}

void RegistryKey::SetValue(std::string_view name, RegistryValue value) {
    const auto found = values_.find(name);
    if (found != values_.end())
        found->second = std::move(value);
    else
        values_.emplace(std::string(name), std::move(value));
}

const RegistryValue* RegistryKey::FindValue(std::string_view name) const {
    const auto found = values_.find(name);
    return found == values_.end() ? nullptr : &found->second;
}

RegistryKey& Registry::CreateKey(HKEY root, std::string_view path) {
    RegistryKey* key = &roots_[root];
    ForEachPart(path, [&](std::string_view part) {
        key = &key->CreateSubkey(part);
        return true;
    });
    return *key;
}

const RegistryKey* Registry::OpenKey(HKEY root, std::string_view path) const {
    const auto found = roots_.find(root);
    if (found == roots_.end())
        return nullptr;
    const RegistryKey* key = &found->second;
    ForEachPart(path, [&](std::string_view part) {
        key = key->FindSubkey(part);
        return key != nullptr;
    });
    return key;
}

void Registry::SetString(HKEY root, std::string_view path, std::string_view name,
                         std::string text) {
    CreateKey(root, path).SetValue(name, {REG_SZ, std::move(text), 0});
}

void Registry::SetExpandString(HKEY root, std::string_view path, std::string_view name,
                               std::string text) {
    CreateKey(root, path).SetValue(name, {REG_EXPAND_SZ, std::move(text), 0});
}

void Registry::SetDword(HKEY root, std::string_view path, std::string_view name,
                        std::uint32_t number) {
    CreateKey(root, path).SetValue(name, {REG_DWORD, {}, number});
}

const Registry& CurrentRegistry() {
    return Installed != nullptr ? *Installed : SystemRegistryView();
}

void SetCurrentRegistry(const Registry* registry) {
    Installed = registry;
}
