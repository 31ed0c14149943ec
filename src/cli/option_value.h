// Options that take a value, as "--name VALUE" or "--name=VALUE".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mailvane::cli {

// When args[i] is the option, returns its value and moves i onto the last argument used;
// otherwise nullopt. A missing value sets error.
std::optional<std::string> OptionValue(const std::vector<std::string>& args, std::size_t& i,
                                       std::string_view option, std::string& error);

}  // namespace mailvane::cli
