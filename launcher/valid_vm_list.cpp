#include "launcher/valid_vm_list.h"

#include <cctype>

namespace kst {
namespace {

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// "V*" for packed words: whole minor when micro and update are 0, minor and micro when only
// the update is 0, nothing otherwise.
bool packed_wildcard(uint16_t pattern, uint16_t word) {
  if ((pattern & 0xF) != 0) return false;
  if ((pattern & 0xF0) == 0) return (pattern & 0xF00) == (word & 0xF00);
  return (pattern & 0xFF0) == (word & 0xFF0);
}

// The same for modern versions, one part further: nothing when the patch is given; else the
// parts up to the last non-zero one of feature, interim and update must be equal.
bool modern_wildcard(const std::array<uint16_t, 4>& pattern, const std::array<uint16_t, 4>& parts) {
  if (pattern[3] != 0) return false;
  size_t used = pattern[2] != 0 ? 3 : pattern[1] != 0 ? 2 : 1;
  for (size_t i = 0; i < used; ++i)
    if (pattern[i] != parts[i]) return false;
  return true;
}

bool wildcard(const JavaVersion& pattern, const JavaVersion& version) {
  if (pattern.is_modern() != version.is_modern()) return false;
  if (pattern.is_modern()) return modern_wildcard(pattern.parts(), version.parts());
  return packed_wildcard(pattern.word(), version.word());
}

bool exact(const JavaVersion& pattern, const JavaVersion& version) {
  if (pattern.is_modern() != version.is_modern()) return false;
  if (!pattern.is_modern()) {
    if ((pattern.word() & 0xF) == 0) return (version.word() & 0xFFF0) == pattern.word();
    return version.word() == pattern.word();
  }
  const auto& p = pattern.parts();
  const auto& v = version.parts();
  return p[0] == v[0] && p[1] == v[1] && p[2] == v[2] && (p[3] == 0 || p[3] == v[3]);
}

bool java1(const VmRecord& vm) { return !vm.version().java2(); }

}  // namespace

std::vector<std::string> valid_list_tokens(const std::string& list) {
  std::vector<std::string> tokens;
  std::string token;
  for (char c : list + ",") {
    if (c == ',' || c == ' ') {
      if (!token.empty()) tokens.push_back(token);
      token.clear();
    } else {
      token += c;
    }
  }
  return tokens;
}

bool constraint_accepts(const std::string& constraint, const JavaVersion& version) {
  if (constraint.empty()) return exact(parse_version_string(constraint), version);
  const std::string body = constraint.substr(0, constraint.size() - 1);
  if (constraint.back() == '+') return compare(version, parse_version_string(body)) >= 0;
  if (constraint.back() == '*') return wildcard(parse_version_string(body), version);
  return exact(parse_version_string(constraint), version);
}

bool token_accepts(const std::string& token_text, const VmRecord& vm) {
  const std::string token = upper(token_text);
  const VmKind kind = vm.kind();
  if (token == "ALL") return true;
  if (token == "J1") return java1(vm) && kind != kMicrosoftVm;
  if (token == "J2") return !java1(vm);
  if (token == "JDK") return kind == kJdk;
  if (token == "JRE") return kind == kJre;
  if (token == "JDK_J1") return kind == kJdk && java1(vm);
  if (token == "JDK_J2") return kind == kJdk && !java1(vm);
  if (token == "JRE_J1") return kind == kJre && java1(vm);
  if (token == "JRE_J2") return kind == kJre && !java1(vm);
  if (token == "MSJ") return kind == kMicrosoftVm;
  if (token.rfind("JRE_", 0) == 0) return kind == kJre && constraint_accepts(token.substr(4), vm.version());
  if (token.rfind("JDK_", 0) == 0) return kind == kJdk && constraint_accepts(token.substr(4), vm.version());
  return constraint_accepts(token, vm.version());
}

bool valid_list_accepts(const std::string& list, const VmRecord& vm) {
  for (const std::string& token : valid_list_tokens(list))
    if (token_accepts(token, vm)) return true;
  return false;
}

}  // namespace kst
