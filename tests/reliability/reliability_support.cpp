#include "reliability/reliability_support.h"

#include <cstdlib>
#include <system_error>

namespace mailvane::reliability {

bool ShortForm() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return std::getenv("MAILVANE_SHORT_TESTS") != nullptr;
#endif
}

std::string Message(const std::string& subject, std::size_t body_bytes) {
  std::string body;
  while (body.size() < body_bytes) body += "The quick brown fox jumps over the lazy dog. ";
  return "From: Anna <anna@example.com>\r\nTo: carl@example.com\r\nSubject: " + subject +
         "\r\nDate: Mon, 4 Mar 2024 10:00:00 +0100\r\nMessage-ID: <" + subject +
         "@example.com>\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + body + "\r\n";
}

std::set<std::string> TreeListing(const fs::path& root) {
  std::set<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    out.insert(it->path().lexically_relative(root).string());
  }
  if (ec) throw std::system_error(ec, "cannot list " + root.string());
  return out;
}

}  // namespace mailvane::reliability
