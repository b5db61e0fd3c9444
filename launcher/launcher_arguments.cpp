#include "launcher/launcher_arguments.h"

#include "platform/file_specification.h"
#include "platform/process_environment.h"

namespace kst {
namespace {

std::string forwarded_form(const std::string& word) {
  if (!word.empty() && Quorvale::exists(Quorvale::FileSpecification(word)))
    return Quorvale::full_path_name(word);
  return word;
}

}  // namespace

LauncherArguments parse_launcher_arguments(const std::vector<std::string>& words) {
  LauncherArguments arguments;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    const bool has_next = i + 1 < words.size();
    if (word == "-zgkstservice" && has_next) {
      arguments.service = true;
      arguments.service_name = words[++i];
    } else if (word == "-i" && has_next && words[i + 1] == "console") {
      arguments.console = true;
      arguments.forwarded.push_back(word);
      arguments.forwarded.push_back(words[++i]);
    } else {
      arguments.forwarded.push_back(forwarded_form(word));
    }
  }
  return arguments;
}

std::optional<std::string> explicit_vm_argument(const LauncherArguments& arguments) {
  const std::vector<std::string>& words = arguments.forwarded;
  for (size_t i = 0; i + 1 < words.size(); ++i)
    if (words[i] == "KST_VM") return words[i + 1];
  return std::nullopt;
}

}  // namespace kst
