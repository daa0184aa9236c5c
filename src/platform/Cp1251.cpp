#include "platform/Cp1251.h"

#include <cerrno>
#include <iconv.h>

namespace {

// The length of the UTF-8 sequence starting at text[0] if it is well formed, else 1, so that
// one '?' stands for one character or one stray byte.
std::size_t SequenceLength(const char* text, std::size_t left) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xC2 && lead <= 0xDF ? 2
                                                              : 1;
    if (length > left)
        return 1;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return 1;
    return length;
}

// A converter of this thread, opened once: opening one costs far more than converting a line.
class TConverter {
public:
    TConverter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~TConverter() {
        if (Opened())
            iconv_close(handle_);
    }
    TConverter(const TConverter&) = delete;
    TConverter& operator=(const TConverter&) = delete;
    bool Opened() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Handle() const { return handle_; }

private:
    iconv_t handle_;
};

std::string Convert(std::string_view text, const TConverter& opened, bool fromUtf8) {
    std::string out;
    out.reserve(text.size() * (fromUtf8 ? 1 : 2));
    iconv_t converter = opened.Handle();
    if (!opened.Opened()) {
        // No converter on this system: ASCII is the same in both codes.
        for (const char c : text)
            out.push_back(static_cast<unsigned char>(c) < 0x80 ? c : '?');
        return out;
    }
    iconv(converter, nullptr, nullptr, nullptr, nullptr); // from the initial state
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char buffer[512];
    while (inLeft > 0) {
        char* outPointer = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(converter, &in, &inLeft, &outPointer, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPointer - buffer));
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        // EILSEQ or EINVAL: a character the target cannot hold, or bytes that are no
        // character.
        out.push_back('?');
        const std::size_t skip = fromUtf8 ? SequenceLength(in, inLeft) : 1;
        in += skip;
        inLeft -= skip;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

} // namespace

std::string Utf8ToCp1251(std::string_view text) {
    thread_local const TConverter converter("CP1251", "UTF-8");
    return Convert(text, converter, true);
}

std::string Cp1251ToUtf8(std::string_view text) {
    thread_local const TConverter converter("UTF-8", "CP1251");
    return Convert(text, converter, false);
}
