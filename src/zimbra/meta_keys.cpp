#include "zimbra/meta_keys.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "zimbra/meta_text.h"

namespace mailvane::zimbra {
namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// A row ready for the scan: its name and its name's length as UTF-16 text.
struct PreparedKey {
  std::u16string name;
  std::u16string name_length;
  std::u16string except;
};

std::u16string Ascii16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// The strict key test: tokens[i] is name + digits only, and tokens[i - 1] ends with the
// name's length as Zimbra writes it in front of the name.
bool IsKeyToken(const std::vector<std::u16string>& tokens, std::size_t i, const PreparedKey& key) {
  const std::u16string& token = tokens[i];
  if (token.size() <= key.name.size() || !token.starts_with(key.name)) return false;
  for (std::size_t k = key.name.size(); k < token.size(); ++k) {
    if (!IsDigit(token[k])) return false;
  }
  return tokens[i - 1].ends_with(key.name_length);
}

bool Passes(const std::vector<std::u16string>& tokens, std::size_t i, const MetaKey& row,
            const PreparedKey& key) {
  switch (row.test) {
    case MetaKeyTest::PrefixTest:
      return IsKeyToken(tokens, i, key);
    case MetaKeyTest::PrefixExceptTest:
      return IsKeyToken(tokens, i, key) &&
             (key.except.empty() || !tokens[i].starts_with(key.except));
    case MetaKeyTest::ContainsTextTest:
      return !key.name.empty() && tokens[i].find(key.name) != std::u16string::npos;
  }
  return false;
}

// The decimal count after the key name; none when there are no digits or too many.
std::optional<std::size_t> CountAfter(std::u16string_view token, std::size_t name_size) {
  if (token.size() <= name_size) return std::nullopt;
  std::uint64_t n = 0;
  for (std::size_t k = name_size; k < token.size(); ++k) {
    if (!IsDigit(token[k])) return std::nullopt;
    n = n * 10 + (token[k] - u'0');
    if (n > (std::uint64_t{1} << 40)) return std::nullopt;
  }
  return static_cast<std::size_t>(n);
}

// The section the tokens came from and where each token starts in it.
class JoinedSection {
 public:
  explicit JoinedSection(const std::vector<std::u16string>& tokens) {
    starts_.reserve(tokens.size());
    for (const auto& token : tokens) {
      if (!starts_.empty()) text_ += u':';
      starts_.push_back(text_.size());
      text_ += token;
    }
  }
  std::size_t Start(std::size_t token) const { return starts_[token]; }
  // Up to count characters from the start of the token on, colons included.
  std::u16string_view From(std::size_t token, std::size_t count) const {
    return std::u16string_view(text_).substr(starts_[token], count);
  }

 private:
  std::u16string text_;
  std::vector<std::size_t> starts_;
};

std::u16string QuotedFirstItem(std::u16string_view next) {
  const auto comma = next.find(u',');
  if (comma == std::u16string_view::npos) return {};
  std::u16string item;
  for (char16_t c : next.substr(0, comma)) {
    if (c != u'"') item += c;
  }
  return item;
}

}  // namespace

std::string MetaDateText(std::string_view date_time) {
  const auto colon = date_time.rfind(':');
  const auto text = colon == std::string_view::npos ? date_time : date_time.substr(colon + 1);
  const std::u16string wide = DecodeMetaBytes(text);
  return ToUtf8(std::u16string_view(wide).substr(0, 8));
}

void ScanMetaKeys(const std::vector<std::u16string>& tokens, std::span<const MetaKey> table,
                  MetaValues& values, const std::function<void()>& yield) {
  std::vector<PreparedKey> keys;
  keys.reserve(table.size());
  for (const auto& row : table) {
    const std::u16string name = DecodeMetaBytes(row.name);
    keys.push_back({name, Ascii16(std::to_string(name.size())), DecodeMetaBytes(row.except)});
    if (row.destination >= values.size()) values.resize(row.destination + 1);
  }
  std::vector<bool> found(table.size(), false);
  const JoinedSection section(tokens);
  // Tokens that start inside a value already taken are text of that value, not keys.
  std::size_t value_end = 0;

  for (std::size_t i = 1; i < tokens.size(); ++i) {
    if (yield) yield();
    if (section.Start(i) < value_end) continue;
    for (std::size_t r = 0; r < table.size(); ++r) {
      if (found[r] || !Passes(tokens, i, table[r], keys[r])) continue;
      found[r] = true;
      if (i + 1 >= tokens.size()) continue;  // the key token ends the section

      const MetaKey& row = table[r];
      if (row.form == MetaValueForm::QuotedFirstItemValue) {
        values[row.destination] = ToUtf8(QuotedFirstItem(tokens[i + 1]));
        continue;
      }
      const auto count = CountAfter(tokens[i], keys[r].name.size());
      if (!count) continue;
      const std::u16string_view wide = section.From(i + 1, *count);
      value_end = std::max(value_end, section.Start(i + 1) + wide.size());
      const std::string value = ToUtf8(wide);
      values[row.destination] =
          row.form == MetaValueForm::FixedTwoOnValue ? MetaDateText(value) : value;
    }
  }
}

}  // namespace mailvane::zimbra
