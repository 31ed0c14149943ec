#include "cli/option_value.h"

namespace mailvane::cli {

std::optional<std::string> OptionValue(const std::vector<std::string>& args, std::size_t& i,
                                       std::string_view option, std::string& error) {
  const std::string& arg = args[i];
  if (arg.size() > option.size() && arg.compare(0, option.size(), option) == 0 &&
      arg[option.size()] == '=') {
    return arg.substr(option.size() + 1);
  }
  if (arg != option) return std::nullopt;
  if (i + 1 >= args.size()) {
    error = std::string(option) + " needs a value";
    return std::string();
  }
  return args[++i];
}

}  // namespace mailvane::cli
