// Headers that run straight into the body, without the empty line between them. GMime
// drops every line of a header block that cannot be a header, up to the first empty
// line, so such a body would be lost without a word.
#pragma once

#include <gmime/gmime.h>

namespace mailvane::mime {

// The offset (from the stream's start) where the body starts when the headers are not
// ended by an empty line: the first line after a Subject, From, Date, To or Cc header
// that cannot be a header, provided no header follows it before the next empty line.
// -1 when there is nothing to mend. Reads only as far as it must (at most 1 MiB) and
// leaves the stream at its start.
gint64 BodyStartWithoutEmptyLine(GMimeStream* stream);

// A new stream reading as `stream` with an empty line inserted at `offset`.
GMimeStream* WithEmptyLineAt(GMimeStream* stream, gint64 offset);

}  // namespace mailvane::mime
