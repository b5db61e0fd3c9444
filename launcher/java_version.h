// Versions of Java VMs.
//
// Versions 1.x live in the packed 16-bit word of the launcher's rules: bits 8-11 the minor
// number, 4-7 the micro number, 0-3 the update. The fields are joined by shift and OR without
// masking, so a part above 15 spills into its neighbour (1.8.0_392 packs as 0x988); the rules
// that pick VMs read the nibbles of that word, spill included.
//
// The word cannot hold versions whose major number is above 1 (9, 11.0.2, 17.0.15): packed,
// 17.0.15 would look like a Java 1 VM. Those are kept whole as feature.interim.update.patch,
// count as Java 2 and later, and order above every 1.x version.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kst {

class JavaVersion {
 public:
  JavaVersion() = default;
  static JavaVersion packed(uint16_t word);
  static JavaVersion modern(uint16_t feature, uint16_t interim, uint16_t update, uint16_t patch);

  bool is_modern() const { return modern_; }
  // The packed word; 0 for a modern version.
  uint16_t word() const { return word_; }
  const std::array<uint16_t, 4>& parts() const { return parts_; }
  int minor_nibble() const { return (word_ >> 8) & 0xF; }
  // Java 2 and later: modern, or a minor nibble of 2 or more.
  bool java2() const { return modern_ || minor_nibble() >= 2; }

  // Negative, 0 or positive as `a` is older than, the same as or newer than `b`. Packed words
  // compare as signed 16-bit numbers.
  friend int compare(const JavaVersion& a, const JavaVersion& b);
  friend bool operator==(const JavaVersion& a, const JavaVersion& b) { return compare(a, b) == 0; }

  // "0x420" for a packed word, "17.0.15.0" for a modern version (for messages and tests).
  std::string text() const;

 private:
  bool modern_ = false;
  uint16_t word_ = 0;
  std::array<uint16_t, 4> parts_{};
};

// Packs 1.minor.micro_update by shifts and OR, keeping the low 16 bits.
uint16_t pack_version(unsigned minor, unsigned micro, unsigned update);

// A version text split at "." and "_", each part read as a decimal number (0 when absent or
// not a number). When the first part is above 1 the version is modern with the parts in
// order; otherwise the first part is ignored and the next three are minor, micro and update.
JavaVersion parse_version_string(const std::string& text);

}  // namespace kst
