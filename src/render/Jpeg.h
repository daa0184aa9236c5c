// The program's JPEG pictures: the background and the textures, embedded in the program and
// decoded with libjpeg.
#pragma once

#include <cstddef>
#include <string_view>

class QImage;

// Decodes the program's JPEG resource of that name (any letter case) into bitmap, a 24-bit
// image; throws std::runtime_error for an unknown name or undecodable data.
void LoadJpegResource(std::string_view name, QImage& bitmap);
// Decodes JPEG bytes into bitmap as LoadJpegResource does; throws std::runtime_error when
// they are not a decodable JPEG image.
void DecodeJpegData(const void* data, std::size_t size, QImage& bitmap);
