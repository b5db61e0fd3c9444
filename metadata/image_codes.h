// The codes that the IMAGE:: records hold for an image's samples and colours, and the most bands
// an image may have; readers of inputs and of .vxl files both check against them.
#pragma once

// Most bands an image may have and a file may hold (hyperspectral scenes have a few hundred);
// readers refuse more, and the decoder takes a larger count for damage.
constexpr int kMaxBands = 256;

// Sample type codes of an image (also IMAGE::DATA_TYPE); unlike PixelData's.
enum ImageDataType { kImage8Bit = 0, kImageFloat = 1, kImage16Bit = 2 };
// Colour scheme codes (also IMAGE::COLOR_SCHEME).
enum ColorScheme { kSchemeUnknown = -1, kSchemeRGB = 0, kSchemeCMYK = 2, kSchemeGray = 3 };
