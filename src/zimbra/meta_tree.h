// A Zimbra .meta record read into a tree: the outer JSON object, and the bencode-like
// dictionary that its "metadata" string holds. Both layers give the same kind of node;
// texts leave as UTF-8, JSON booleans as "true"/"false" (as the metadata writes them), and
// a JSON null is left out as the metadata leaves out its nulls.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mailvane::zimbra {

// Zimbra's item type numbers (the record's "type").
enum ZimbraType : int {
  kZimbraFolder = 1,
  kZimbraMessage = 5,
  kZimbraContact = 6,
  kZimbraAppointment = 11,
  kZimbraWiki = 14,
  kZimbraTask = 15,
};

struct MetaNode {
  enum class Kind { kText, kNumber, kList, kDict };
  Kind kind = Kind::kDict;
  std::string text;             // kText; kNumber: its decimal text
  std::int64_t number = 0;      // kNumber
  std::vector<MetaNode> items;  // kList
  std::vector<std::pair<std::string, MetaNode>> entries;  // kDict, in the record's order

  // The value under key of a dictionary; nullptr when absent or this is no dictionary.
  const MetaNode* Find(std::string_view key) const;
  // A text or a number's decimal text under key; empty otherwise.
  std::string Text(std::string_view key) const;
  // A number under key, or a text holding only a decimal number (Zimbra writes some
  // counts and percentages as texts).
  std::optional<std::int64_t> Number(std::string_view key) const;
  // The text "true" under key.
  bool Flag(std::string_view key) const { return Text(key) == "true"; }
};

struct MetaTree {
  MetaNode json;      // the outer object
  MetaNode metadata;  // the dictionary of its "metadata" (empty when it has none)

  // The item type number ("type"), -1 when missing.
  int Type() const;
  std::string Path() const { return json.Text("Path"); }
  // The item's tag names ("TagNames": names separated by ":", "\" escaping ":" and "\").
  std::vector<std::string> TagNames() const;
};

struct ParsedMetaRecord {
  std::optional<MetaTree> tree;
  std::string failure;  // why the record could not be read or parsed; empty on success
};

// Parses the bytes of a .meta file: its last line (by ReadMetaRecord's line rule), UTF-8
// with Windows-1252 for bytes that are not, as JSON; then "metadata" with its string lengths
// in UTF-16 code units. Never throws.
ParsedMetaRecord ParseMetaRecord(std::string_view bytes);

// Reads the file at path (spaces at both ends removed) and parses it. Never throws.
ParsedMetaRecord ReadMetaTree(std::string_view path, const std::function<void()>& yield = {});

// The metadata layer alone (a "d...e" text); raises std::runtime_error when malformed.
MetaNode ParseMetadata(std::u16string_view text);

}  // namespace mailvane::zimbra
