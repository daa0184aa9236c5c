// Code page 1251, the single-byte code page of every text the program stores, and UTF-8,
// the code of the system's texts and of the toolkit.
#pragma once

#include <string>
#include <string_view>

// Characters that code page 1251 cannot hold, and malformed UTF-8, become '?'.
std::string Utf8ToCp1251(std::string_view text);
// The one byte that code page 1251 leaves undefined (0x98) becomes '?'.
std::string Cp1251ToUtf8(std::string_view text);
