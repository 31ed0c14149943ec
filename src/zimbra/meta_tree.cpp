#include "zimbra/meta_tree.h"

#include <stdexcept>

#include "zimbra/meta_record.h"
#include "zimbra/meta_text.h"

namespace mailvane::zimbra {
namespace {

// Records nest a few levels (item, invite, attendee); anything far deeper is not a record
// and must not exhaust the stack.
constexpr int kMaxDepth = 64;

[[noreturn]] void Malformed(const char* layer, const char* what, std::size_t at) {
  throw std::runtime_error(std::string(layer) + ": " + what + " at character " +
                           std::to_string(at));
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

MetaNode TextNode(std::u16string_view text) {
  MetaNode n;
  n.kind = MetaNode::Kind::kText;
  n.text = ToUtf8(text);
  return n;
}

MetaNode NumberNode(std::int64_t value, std::string text) {
  MetaNode n;
  n.kind = MetaNode::Kind::kNumber;
  n.number = value;
  n.text = std::move(text);
  return n;
}

// Decimal digits (with an optional "-") into a number; nullopt when out of range.
std::optional<std::int64_t> ToNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 19) return std::nullopt;
  std::size_t i = digits[0] == '-' ? 1 : 0;
  if (i == digits.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; i < digits.size(); ++i) {
    if (digits[i] < '0' || digits[i] > '9') return std::nullopt;
    value = value * 10 + (digits[i] - '0');
  }
  return digits[0] == '-' ? -value : value;
}

class BencodeParser {
 public:
  explicit BencodeParser(std::u16string_view text) : s_(text) {}

  MetaNode Whole() {
    MetaNode n = Value(0);
    if (at_ != s_.size()) Malformed("metadata", "text after the end", at_);
    return n;
  }

 private:
  char16_t Peek() const {
    if (at_ >= s_.size()) Malformed("metadata", "unexpected end", at_);
    return s_[at_];
  }

  std::u16string_view String() {
    std::size_t length = 0;
    const std::size_t start = at_;
    while (at_ < s_.size() && IsDigit(s_[at_])) {
      if (at_ - start > 9) Malformed("metadata", "string length too large", start);
      length = length * 10 + (s_[at_++] - u'0');
    }
    if (at_ == start || Peek() != u':') Malformed("metadata", "string length expected", start);
    ++at_;
    if (length > s_.size() - at_) Malformed("metadata", "string longer than the text", start);
    const std::u16string_view text = s_.substr(at_, length);
    at_ += length;
    return text;
  }

  MetaNode Value(int depth) {
    if (depth > kMaxDepth) Malformed("metadata", "nested too deeply", at_);
    const char16_t c = Peek();
    if (c == u'd' || c == u'l') {
      ++at_;
      MetaNode n;
      n.kind = c == u'd' ? MetaNode::Kind::kDict : MetaNode::Kind::kList;
      while (Peek() != u'e') {
        if (c == u'd') {
          std::string key = ToUtf8(String());
          n.entries.emplace_back(std::move(key), Value(depth + 1));
        } else {
          n.items.push_back(Value(depth + 1));
        }
      }
      ++at_;
      return n;
    }
    if (c == u'i') {
      const std::size_t start = ++at_;
      while (Peek() != u'e') ++at_;
      const std::string digits = ToUtf8(s_.substr(start, at_ - start));
      ++at_;
      const auto value = ToNumber(digits);
      if (!value) Malformed("metadata", "not a number", start);
      return NumberNode(*value, digits);
    }
    return TextNode(String());
  }

  std::u16string_view s_;
  std::size_t at_ = 0;
};

class JsonParser {
 public:
  explicit JsonParser(std::u16string_view text) : s_(text) {}

  MetaTree Record() {
    MetaTree tree;
    SkipSpace();
    if (Peek() != u'{') Malformed("JSON", "the record is not an object", at_);
    tree.json = Value(0, &tree);
    SkipSpace();
    if (at_ != s_.size()) Malformed("JSON", "text after the object", at_);
    return tree;
  }

 private:
  char16_t Peek() const {
    if (at_ >= s_.size()) Malformed("JSON", "unexpected end", at_);
    return s_[at_];
  }
  void SkipSpace() {
    while (at_ < s_.size() &&
           (s_[at_] == u' ' || s_[at_] == u'\t' || s_[at_] == u'\n' || s_[at_] == u'\r')) {
      ++at_;
    }
  }
  void Expect(char16_t c) {
    SkipSpace();
    if (Peek() != c) Malformed("JSON", "unexpected character", at_);
    ++at_;
  }
  bool Literal(std::u16string_view word) {
    if (s_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  std::u16string String() {
    Expect(u'"');
    const std::size_t start = at_;
    while (Peek() != u'"') {
      if (s_[at_] == u'\\') ++at_;
      ++at_;
    }
    const std::u16string_view raw = s_.substr(start, at_ - start);
    ++at_;
    return UnescapeJson(raw);
  }

  // tree: set for the top-level object, whose "metadata" is parsed as metadata.
  MetaNode Value(int depth, MetaTree* tree) {
    if (depth > kMaxDepth) Malformed("JSON", "nested too deeply", at_);
    SkipSpace();
    const char16_t c = Peek();
    if (c == u'{' || c == u'[') {
      ++at_;
      const bool object = c == u'{';
      MetaNode n;
      n.kind = object ? MetaNode::Kind::kDict : MetaNode::Kind::kList;
      SkipSpace();
      const char16_t close = object ? u'}' : u']';
      if (Peek() == close) {
        ++at_;
        return n;
      }
      while (true) {
        if (object) {
          const std::u16string key = String();
          Expect(u':');
          SkipSpace();
          if (tree != nullptr && key == u"metadata" && Peek() == u'"') {
            const std::u16string metadata = String();
            if (!metadata.empty()) tree->metadata = ParseMetadata(metadata);
            n.entries.emplace_back("metadata", TextNode(metadata));
          } else if (Literal(u"null")) {
            // left out, as the metadata leaves out its nulls
          } else {
            n.entries.emplace_back(ToUtf8(key), Value(depth + 1, nullptr));
          }
        } else {
          n.items.push_back(Value(depth + 1, nullptr));
        }
        SkipSpace();
        if (Peek() == close) {
          ++at_;
          return n;
        }
        Expect(u',');
      }
    }
    if (c == u'"') return TextNode(String());
    if (Literal(u"true")) return TextNode(u"true");
    if (Literal(u"false")) return TextNode(u"false");
    if (Literal(u"null")) return TextNode(u"");
    const std::size_t start = at_;
    while (at_ < s_.size() && (IsDigit(s_[at_]) || s_[at_] == u'-' || s_[at_] == u'+' ||
                               s_[at_] == u'.' || s_[at_] == u'e' || s_[at_] == u'E')) {
      ++at_;
    }
    if (at_ == start) Malformed("JSON", "unexpected character", at_);
    const std::string digits = ToUtf8(s_.substr(start, at_ - start));
    const auto value = ToNumber(digits);
    if (!value) return TextNode(s_.substr(start, at_ - start));  // a fraction: kept as text
    return NumberNode(*value, digits);
  }

  std::u16string_view s_;
  std::size_t at_ = 0;
};

}  // namespace

const MetaNode* MetaNode::Find(std::string_view key) const {
  if (kind != Kind::kDict) return nullptr;
  for (const auto& [k, v] : entries) {
    if (k == key) return &v;
  }
  return nullptr;
}

std::string MetaNode::Text(std::string_view key) const {
  const MetaNode* n = Find(key);
  if (n == nullptr || n->kind == Kind::kList || n->kind == Kind::kDict) return {};
  return n->text;
}

std::optional<std::int64_t> MetaNode::Number(std::string_view key) const {
  const MetaNode* n = Find(key);
  if (n == nullptr) return std::nullopt;
  if (n->kind == Kind::kNumber) return n->number;
  if (n->kind == Kind::kText) return ToNumber(n->text);
  return std::nullopt;
}

int MetaTree::Type() const {
  const auto type = json.Number("type");
  return type && *type >= 0 && *type < 1000 ? static_cast<int>(*type) : -1;
}

std::vector<std::string> MetaTree::TagNames() const {
  std::vector<std::string> names;
  const std::string text = json.Text("TagNames");
  std::string name;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      name += text[++i];
    } else if (text[i] == ':') {
      if (!name.empty()) names.push_back(std::move(name));
      name.clear();
    } else {
      name += text[i];
    }
  }
  if (!name.empty()) names.push_back(std::move(name));
  return names;
}

MetaNode ParseMetadata(std::u16string_view text) {
  return BencodeParser(text).Whole();
}

ParsedMetaRecord ParseMetaRecord(std::string_view bytes) {
  ParsedMetaRecord result;
  try {
    result.tree = JsonParser(DecodeMetaBytes(LastLine(bytes))).Record();
  } catch (const std::exception& e) {
    result.failure = std::string("not a Zimbra record: ") + e.what();
  }
  return result;
}

ParsedMetaRecord ReadMetaTree(std::string_view path, const std::function<void()>& yield) {
  std::string trimmed(path);
  while (!trimmed.empty() && trimmed.front() == ' ') trimmed.erase(0, 1);
  while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
  if (yield) yield();
  std::string bytes;
  ParsedMetaRecord result;
  if (!ReadFileBytes(trimmed, bytes, result.failure)) return result;
  if (yield) yield();
  return ParseMetaRecord(bytes);
}

}  // namespace mailvane::zimbra
