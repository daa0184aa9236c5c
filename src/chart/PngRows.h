// A 16-colour picture written as a PNG row by row with libpng, so that a picture of any height
// is encoded without being held whole.
#pragma once

#include <QRgb>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct png_struct_def;
struct png_info_def;

class TPngRows {
public:
    // Takes the encoded bytes, in blocks of up to a megabyte; false when they could not be
    // kept (the file or device refused them).
    using TSink = std::function<bool(const char* bytes, std::size_t size)>;

    explicit TPngRows(TSink sink);
    ~TPngRows();
    TPngRows(const TPngRows&) = delete;
    TPngRows& operator=(const TPngRows&) = delete;

    // The header: width x height pixels, 4 bits a pixel, of that palette.
    bool Begin(int width, int height, const std::array<QRgb, 16>& palette);
    // The next row: width palette indices, two to a byte, the left one in the high four bits.
    bool Row(const std::uint8_t* packed);
    // The end of the picture, after its last row; every byte handed to the sink.
    bool End();

private:
    static void WriteBytes(png_struct_def* png, unsigned char* bytes, std::size_t size);
    static void Flush(png_struct_def* png);
    bool Drain();
    bool Fail();

    TSink sink_;
    png_struct_def* png_ = nullptr;
    png_info_def* info_ = nullptr;
    bool failed_ = false;
    std::vector<char> pending_;
};
