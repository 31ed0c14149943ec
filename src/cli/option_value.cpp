#include "cli/option_value.h"

#include <cctype>

namespace mailvane::cli {

namespace {

// "45G", "500M", "300000", "2GB": bytes, with K, M, G or T counting in 1024s.
std::optional<std::uint64_t> ParseSize(const std::string& text) {
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  if (digits == 0 || digits > 15) return std::nullopt;
  std::uint64_t n = std::stoull(text.substr(0, digits));
  std::string unit = text.substr(digits);
  for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (unit.size() == 2 && unit[1] == 'B') unit.pop_back();
  static const std::string kUnits = "KMGT";
  if (unit.empty() || unit == "B") return n;
  const std::size_t power = kUnits.find(unit);
  if (unit.size() != 1 || power == std::string::npos) return std::nullopt;
  const std::size_t shift = 10 * (power + 1);
  if (n > (UINT64_MAX >> shift)) return std::nullopt;
  return n << shift;
}

}  // namespace

std::optional<std::uint64_t> MaxSizeValue(const std::string& text, std::string& error) {
  std::optional<std::uint64_t> bytes = ParseSize(text);
  if (!bytes) error = "--max-size " + text + ": a size such as 45G, 500M or 0 for no limit";
  return bytes;
}

std::optional<unsigned> ThreadsValue(const std::string& text, std::string& error) {
  const bool digits = !text.empty() && text.size() <= 3 &&
                      text.find_first_not_of("0123456789") == std::string::npos;
  const unsigned threads = digits ? static_cast<unsigned>(std::stoul(text)) : 0;
  if (threads < 1 || threads > 256) {
    error = "--threads " + text + ": a number of threads from 1 to 256";
    return std::nullopt;
  }
  return threads;
}

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
