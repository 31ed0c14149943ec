// Reads an RFC 822 / MIME message with GMime and maps it onto MAPI properties the way
// MS-OXCMAIL describes: headers, recipients, bodies and attachments, embedded messages
// nested to any depth up to kMaxNestingDepth.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "mime/parsed_message.h"
#include "source/export_file.h"

namespace mailvane::mime {

// Multiparts and attached messages deeper than this are kept as one raw attachment
// each (with a warning) instead of being parsed further.
inline constexpr int kMaxNestingDepth = 64;

// Parses a message file. Broken mail still gives a message with what could be read;
// a file that cannot be opened or read raises std::system_error naming the file.
ParsedMessage ParseMimeFile(const std::filesystem::path& file);

// Parses a message held in memory.
ParsedMessage ParseMimeBytes(std::string_view bytes);

// Parses a message read once from reader (an archive entry); size is its length from the
// archive's header, 0 when unknown. Raises when the reader does.
ParsedMessage ParseMimeReader(source::ByteReader& reader, std::uint64_t size);

}  // namespace mailvane::mime
