// Options that take a value, as "--name VALUE" or "--name=VALUE".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mailvane::cli {

// When args[i] is the option, returns its value and moves i onto the last argument used;
// otherwise nullopt. A missing value sets error.
std::optional<std::string> OptionValue(const std::vector<std::string>& args, std::size_t& i,
                                       std::string_view option, std::string& error);

// The values of --max-size (bytes, "0" for none) and --threads, which a single conversion
// takes and a batch passes on to each of its conversions. nullopt, with error saying
// why, for a value that is no such thing.
std::optional<std::uint64_t> MaxSizeValue(const std::string& text, std::string& error);
std::optional<unsigned> ThreadsValue(const std::string& text, std::string& error);

}  // namespace mailvane::cli
