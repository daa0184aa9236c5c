#include "chart/PngRows.h"

#include <csetjmp>
#include <png.h>
#include <utility>
#include <zlib.h>

namespace {

constexpr std::size_t PendingBytes = 1u << 20;

// libpng's own failures (out of memory) come back by a jump to the writer's call, which says
// that the picture was not written; nothing is printed.
[[noreturn]] void JumpBack(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

} // namespace

TPngRows::TPngRows(TSink sink) : sink_(std::move(sink)) {
    pending_.reserve(PendingBytes);
}

TPngRows::~TPngRows() {
    if (png_ != nullptr)
        png_destroy_write_struct(&png_, info_ != nullptr ? &info_ : nullptr);
}

void TPngRows::WriteBytes(png_struct_def* png, unsigned char* bytes, std::size_t size) {
    auto* self = static_cast<TPngRows*>(png_get_io_ptr(png));
    // A refusal of the sink is remembered, not raised through libpng: every call of the writer
    // checks it when libpng returns.
    if (self->failed_)
        return;
    self->pending_.insert(self->pending_.end(), bytes, bytes + size);
    if (self->pending_.size() >= PendingBytes)
        self->Drain();
}

void TPngRows::Flush(png_struct_def*) {}

bool TPngRows::Fail() {
    failed_ = true;
    return false;
}

bool TPngRows::Drain() {
    if (!failed_ && !pending_.empty() && !sink_(pending_.data(), pending_.size()))
        failed_ = true;
    pending_.clear();
    return !failed_;
}

bool TPngRows::Begin(int width, int height, const std::array<QRgb, 16>& palette) {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpBack, IgnoreWarning);
    if (png_ == nullptr)
        return Fail();
    info_ = png_create_info_struct(png_);
    if (info_ == nullptr)
        return Fail();
    png_color colours[16];
    for (std::size_t i = 0; i < palette.size(); ++i)
        colours[i] = {static_cast<png_byte>(qRed(palette[i])),
                      static_cast<png_byte>(qGreen(palette[i])),
                      static_cast<png_byte>(qBlue(palette[i]))};
    if (setjmp(png_jmpbuf(png_)) != 0)
        return Fail();
    png_set_write_fn(png_, this, &TPngRows::WriteBytes, &TPngRows::Flush);
    // A chart is as tall as its entries make it, beyond libpng's default limit of a million
    // rows; PNG itself takes up to 2^31 - 1.
    png_set_user_limits(png_, 0x7FFFFFFF, 0x7FFFFFFF);
    png_set_IHDR(png_, info_, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 4,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png_, info_, colours, 16);
    // The chart's rows are long runs of few colours: the fastest deflate level keeps the file
    // small all the same, and no filter helps a palette picture.
    png_set_filter(png_, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png_, 1);
    png_set_compression_strategy(png_, Z_RLE);
    png_write_info(png_, info_);
    return !failed_;
}

bool TPngRows::Row(const std::uint8_t* packed) {
    if (failed_)
        return false;
    if (setjmp(png_jmpbuf(png_)) != 0)
        return Fail();
    png_write_row(png_, packed);
    return !failed_;
}

bool TPngRows::End() {
    if (failed_)
        return false;
    if (setjmp(png_jmpbuf(png_)) != 0)
        return Fail();
    png_write_end(png_, nullptr);
    return Drain();
}
