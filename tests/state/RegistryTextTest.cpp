// Registry texts with every rule.
#include "platform/Registry.h"
#include "state/Variables.h"

#include <gtest/gtest.h>
#include <string>

namespace {

// Installs a registry of the test's own for ReadRegistryText, and takes it away again.
class InstalledRegistry {
public:
    InstalledRegistry() { SetCurrentRegistry(&registry); }
    ~InstalledRegistry() { SetCurrentRegistry(nullptr); }
    Registry registry;
};

std::string Unscrambled(const TStringSlot& slot) {
    return StringSlotText(UnscrambleText(slot));
}

} // namespace

TEST(ReadRegistryText, FollowsTheRulesForEveryKindOfValue) {
    InstalledRegistry fixture;
    Registry& registry = fixture.registry;
    const std::string key = "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    const std::string longText(300, 'x');
    registry.SetString(HKEY_LOCAL_MACHINE, key, "ProductName", "Debian GNU/Linux 12");
    registry.SetString(HKEY_LOCAL_MACHINE, key, "Long", longText.substr(0, 254) + "yz" + "tail");
    registry.SetString(HKEY_LOCAL_MACHINE, key, "Empty", "");
    registry.SetString(HKEY_LOCAL_MACHINE, key, "Zero", std::string("ab\0cd", 5));
    registry.SetExpandString(HKEY_LOCAL_MACHINE, key, "Expand", "%SystemRoot%\\x");
    registry.SetDword(HKEY_LOCAL_MACHINE, key, "DwordZero", 0);
    registry.SetDword(HKEY_LOCAL_MACHINE, key, "DwordMax", 4294967295u);
    registry.CreateKey(HKEY_LOCAL_MACHINE, key).SetValue("Binary", {REG_BINARY, "\x01\x02", 0});
    registry.CreateKey(HKEY_LOCAL_MACHINE, key).SetValue("Multi", {REG_MULTI_SZ, "a", 0});

    const struct {
        HKEY root;
        std::string key;
        const char* value;
        std::string expected;
    } cases[] = {
        {HKEY_LOCAL_MACHINE, key, "ProductName", "Debian GNU/Linux 12"},
        {HKEY_LOCAL_MACHINE, "\\software\\MICROSOFT\\windows nt\\currentversion", "productname",
         "Debian GNU/Linux 12"},
        {HKEY_LOCAL_MACHINE, key, "Long", longText.substr(0, 254) + "y"}, // cut to 255
        {HKEY_LOCAL_MACHINE, key, "Empty", "n/d"},
        {HKEY_LOCAL_MACHINE, key, "Zero", "ab"},
        {HKEY_LOCAL_MACHINE, key, "Expand", "n/d"},
        {HKEY_LOCAL_MACHINE, key, "DwordZero", "0"},
        {HKEY_LOCAL_MACHINE, key, "DwordMax", "4294967295"},
        {HKEY_LOCAL_MACHINE, key, "Binary", "n/d"},
        {HKEY_LOCAL_MACHINE, key, "Multi", "n/d"},
        {HKEY_LOCAL_MACHINE, key, "Missing", "n/d"},
        {HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProductName",
         "n/d"},
        {HKEY_CURRENT_USER, key, "ProductName", "n/d"},
    };
    for (const auto& c : cases) {
        const TStringSlot slot = ReadRegistryText(c.root, c.key, c.value);
        EXPECT_EQ(slot, ScrambleText(MakeStringSlot(c.expected))) << c.value;
        EXPECT_EQ(Unscrambled(slot), c.expected) << c.value;
    }
    // Scrambled, not plain: the stored bytes are not the text itself.
    EXPECT_NE(StringSlotText(ReadRegistryText(HKEY_LOCAL_MACHINE, key, "ProductName")),
              "Debian GNU/Linux 12");
}

TEST(ReadRegistryText, TheSystemViewHasNo9xKey) {
    SetCurrentRegistry(nullptr);
    EXPECT_EQ(Unscrambled(ReadRegistryText(HKEY_LOCAL_MACHINE,
                                           "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                           "ProductName")),
              "n/d");
}
