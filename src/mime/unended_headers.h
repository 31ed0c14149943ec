// Headers that run straight into the body, without the empty line between them. GMime
// drops every line of a header block that cannot be a header, up to the first empty
// line, so such a body would be lost without a word.
#pragma once

#include <gmime/gmime.h>

namespace mailvane::mime {

struct UnendedHeaders {
  // The offset (from the stream's start) of the first line that cannot be a header when
  // no empty line came before it and no header follows it before the next empty line;
  // -1 when there is nothing to mend.
  gint64 body = -1;
  // A Subject, From, Date, To or Cc header came before it: a message whose body starts
  // there (as GMime's own later versions take it). Otherwise the file is text that only
  // begins like a header.
  bool after_message_header = false;
};

// The most FindUnendedHeaders reads: 1 MiB and one chunk of 4 KiB.
inline constexpr gint64 kUnendedScanBytes = (1 << 20) + 4096;

// Reads only as far as it must (at most kUnendedScanBytes) and leaves the stream at its
// start.
UnendedHeaders FindUnendedHeaders(GMimeStream* stream);

// A new stream reading as `stream` with an empty line inserted at `offset`.
GMimeStream* WithEmptyLineAt(GMimeStream* stream, gint64 offset);

}  // namespace mailvane::mime
