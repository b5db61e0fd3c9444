// The list of acceptable VMs (`kst.nl.valid.vm.list`): tokens separated by commas and spaces,
// each naming a family, a kind or a version constraint ("1.4+", "1.4*", "JRE_1.4.2", "17+").
#pragma once

#include <string>
#include <vector>

#include "launcher/vm_record.h"

namespace kst {

std::vector<std::string> valid_list_tokens(const std::string& list);

// Whether one token (any case) accepts `vm`.
bool token_accepts(const std::string& token, const VmRecord& vm);

// Whether any token of `list` accepts `vm`; an empty list accepts none.
bool valid_list_accepts(const std::string& list, const VmRecord& vm);

// Whether the version constraint `constraint` (no kind prefix) accepts `version`:
// "V+" at least V, "V*" any version below V's last non-zero part, plain V equal to V, any
// update (patch for modern versions) when V gives none.
bool constraint_accepts(const std::string& constraint, const JavaVersion& version);

}  // namespace kst
