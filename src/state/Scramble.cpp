#include "state/Variables.h"

#include <algorithm>

// Both directions work on s[1..n] of the slot; index 0 is the length and never changes. Each
// unscrambling cycle undoes one scrambling cycle, its two passes in reverse order.

TStringSlot ScrambleText(const TStringSlot& text) {
    const int n = text[0];
    TStringSlot s{};
    std::copy_n(text.begin(), n + 1, s.begin());
    if (n <= 1)
        return s;
    TStringSlot t{};
    t[0] = s[0];
    for (int cycle = 1; cycle < n; ++cycle) {
        for (int k = 1; k <= n - 1; ++k)
            t[k] = s[k] ^ s[k + 1];
        t[n] = s[n] ^ t[1];
        s = t;
        for (int k = n; k >= 2; --k)
            t[k] = s[k] ^ s[k - 1];
        t[1] = t[n] ^ s[1];
        s = t;
    }
    return s;
}

TStringSlot UnscrambleText(const TStringSlot& text) {
    const int n = text[0];
    TStringSlot s{};
    std::copy_n(text.begin(), n + 1, s.begin());
    if (n <= 1)
        return s;
    // In place: each pass reads only bytes it has not yet changed, but for the one it has
    // just written (the server unscrambles every text of every page it answers).
    for (int cycle = 1; cycle < n; ++cycle) {
        s[1] ^= s[n];
        for (int k = 2; k <= n; ++k)
            s[k] ^= s[k - 1];
        s[n] ^= s[1];
        for (int k = n - 1; k >= 1; --k)
            s[k] ^= s[k + 1];
    }
    return s;
}
