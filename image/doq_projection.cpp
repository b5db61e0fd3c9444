#include "image/doq_projection.h"

#include "platform/error.h"

namespace {

constexpr int kNAD27 = 6267, kNAD83 = 6269, kWGS72 = 6322, kWGS84 = 6326;

// Zones first..last of a state map to base, base + 1, ...; a state with a single zone lists
// zone 0 only.
struct ZoneRange {
  int first, last, base;
};

struct StatePlane {
  int state;
  ZoneRange nad27, nad83;
};

constexpr StatePlane kStatePlanes[] = {
    {1, {1, 2, 26729}, {1, 2, 26929}},     {2, {1, 3, 26748}, {1, 3, 26948}},
    {3, {1, 2, 26751}, {1, 2, 26951}},     {4, {1, 7, 26741}, {1, 6, 26941}},
    {5, {1, 3, 26753}, {1, 3, 26953}},     {6, {0, 0, 26756}, {0, 0, 26956}},
    {7, {0, 0, 26757}, {0, 0, 26957}},     {9, {1, 3, 26758}, {1, 3, 26958}},
    {10, {1, 2, 26766}, {1, 2, 26966}},    {11, {1, 3, 26768}, {1, 3, 26968}},
    {12, {1, 2, 26771}, {1, 2, 26971}},    {13, {1, 2, 26773}, {1, 2, 26973}},
    {14, {1, 2, 26775}, {1, 2, 26975}},    {15, {1, 2, 26777}, {1, 2, 26977}},
    {16, {1, 2, 26779}, {1, 2, 26979}},    {17, {1, 2, 26781}, {1, 2, 26981}},
    {18, {1, 2, 26783}, {1, 2, 26983}},    {19, {0, 0, 26785}, {0, 0, 26985}},
    {20, {1, 2, 26786}, {1, 2, 26986}},    {21, {11, 13, 26788}, {11, 13, 26988}},
    {22, {1, 3, 26791}, {1, 3, 26991}},    {23, {1, 2, 26794}, {1, 2, 26994}},
    {24, {1, 3, 26796}, {1, 3, 26996}},    {25, {1, 3, 32001}, {0, 0, 32100}},
    {26, {1, 2, 32005}, {0, 0, 32104}},    {27, {1, 3, 32007}, {1, 3, 32107}},
    {28, {0, 0, 32010}, {0, 0, 32110}},    {29, {0, 0, 32011}, {0, 0, 32111}},
    {30, {1, 3, 32012}, {1, 3, 32112}},    {31, {1, 4, 32015}, {1, 4, 32115}},
    {32, {0, 0, 32019}, {0, 0, 32119}},    {33, {1, 2, 32020}, {1, 2, 32120}},
    {34, {1, 2, 32022}, {1, 2, 32122}},    {35, {1, 2, 32024}, {1, 2, 32124}},
    {36, {1, 2, 32026}, {1, 2, 32126}},    {37, {1, 2, 32028}, {1, 2, 32128}},
    {38, {0, 0, 32030}, {0, 0, 32130}},    {39, {1, 2, 32031}, {0, 0, 32133}},
    {40, {1, 2, 32034}, {1, 2, 32134}},    {41, {0, 0, 32036}, {0, 0, 32136}},
    {42, {1, 5, 32037}, {1, 5, 32137}},    {43, {1, 3, 32042}, {1, 3, 32142}},
    {44, {0, 0, 32045}, {0, 0, 32145}},    {45, {1, 2, 32046}, {1, 2, 32146}},
    {46, {1, 2, 32048}, {1, 2, 32148}},    {47, {1, 2, 32050}, {1, 2, 32150}},
    {48, {1, 3, 32052}, {1, 3, 32152}},    {49, {1, 4, 32055}, {1, 4, 32155}},
    {50, {1, 10, 26731}, {1, 10, 26931}},  {51, {1, 5, 26761}, {1, 5, 26961}},
    {52, {1, 2, 32059}, {0, 0, 32161}},
};

int utm_code(int zone, int datum) {
  if (zone < 1 || zone > 60)
    throw Error(format_message("Error: unsupported UTM zone %d encountered.", zone));
  switch (datum) {
    case kNAD27: return zone + 26700;
    case kNAD83: return zone + 26900;
    case kWGS72: return zone + 32200;
    case kWGS84:
    default: return zone + 32600;
  }
}

void refuse_special_zone(int zone, int datum) {
  if (zone == 1703)
    throw Error("Sorry, this software does not support the NAD27 SPCS Louisiana Offshore "
                "coordinate zone.");
  if (datum != kNAD27) return;
  if (zone == 2101)
    throw Error("Sorry, this software does not support the NAD27 SPCS Michigan East "
                "coordinate zone.");
  if (zone == 2102)
    throw Error("Sorry, this software does not support the NAD27 SPCS Michigan Central "
                "coordinate zone.");
  if (zone == 2103)
    throw Error("Sorry, this software does not support the NAD27 SPCS Michigan West "
                "coordinate zone.");
}

int state_plane_code(int zone, int datum) {
  if (datum != kNAD27 && datum != kNAD83)
    throw Error("Error: unsupported datum encountered with SPCS coordinate system.");
  refuse_special_zone(zone, datum);
  const int state = zone / 100, number = zone % 100;
  for (const StatePlane& plane : kStatePlanes) {
    if (plane.state != state) continue;
    const ZoneRange& range = datum == kNAD27 ? plane.nad27 : plane.nad83;
    if (number >= range.first && number <= range.last) return range.base + number - range.first;
  }
  throw Error(format_message("Error: unsupported SPCS zone %d encountered.", zone));
}

}  // namespace

int doq_projected_cs(int coordinate_system, int zone, int datum) {
  switch (coordinate_system) {
    case 0: throw Error("Sorry, this software does not support Geographic coordinates.");
    case 1: return utm_code(zone, datum);
    case 2: return state_plane_code(zone, datum);
    default:
      throw Error(format_message("Error, unsupported coordinate system encountered (%d).",
                                 coordinate_system));
  }
}
