// A GMime stream over content read once, front to back (an entry of an archive being read):
// GMime parses from it without the whole content ever being held in one buffer.
#pragma once

#include <gmime/gmime.h>

#include <string>

#include "mime/message_limits.h"
#include "source/export_file.h"

namespace mailvane::mime {

// A new stream reading from reader, which must outlive it, as the message's bytes from
// offset `at` on. It can only go forward: a parser reading it must not keep it (persist-
// stream off). Every byte read is fed to cuts, and the stream ends where the message must
// be cut off. A read that raises ends the stream early; ReaderStreamFailure then says why.
GMimeStream* NewReaderStream(source::ByteReader& reader, CutScanner& cuts, gint64 at);

// Why the reader failed, or "" while it has not.
std::string ReaderStreamFailure(GMimeStream* stream);

}  // namespace mailvane::mime
