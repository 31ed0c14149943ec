#include "mime/reader_stream.h"

#include <algorithm>
#include <exception>

namespace mailvane::mime {
namespace {

struct ReaderStream {
  GMimeStream parent;
  source::ByteReader* reader;
  CutScanner* cuts;
  gint64 at;  // offset in the message of the next byte
  std::string* failure;
  gboolean ended;
};

struct ReaderStreamClass {
  GMimeStreamClass parent_class;
};

GObjectClass* parent_class = nullptr;

ReaderStream* Self(GMimeStream* stream) { return reinterpret_cast<ReaderStream*>(stream); }

ssize_t Read(GMimeStream* stream, char* buf, size_t len) {
  ReaderStream* self = Self(stream);
  if (self->ended || len == 0) return 0;
  try {
    std::size_t n = self->reader->Read(buf, len);
    if (n == 0) self->ended = TRUE;
    self->cuts->Feed(buf, n);
    if (self->cuts->done()) {
      // Nothing from the line where the message is cut off on.
      n = static_cast<std::size_t>(std::clamp<gint64>(self->cuts->end() - self->at, 0, static_cast<gint64>(n)));
      self->ended = TRUE;
    }
    self->at += static_cast<gint64>(n);
    stream->position += static_cast<gint64>(n);
    return static_cast<ssize_t>(n);
  } catch (const std::exception& e) {
    *self->failure = e.what();
    self->ended = TRUE;
    return -1;
  }
}

ssize_t Write(GMimeStream*, const char*, size_t) { return -1; }
int Flush(GMimeStream*) { return 0; }
int Close(GMimeStream*) { return 0; }
gboolean Eos(GMimeStream* stream) { return Self(stream)->ended; }
// What was read is gone: only "stay here" can be honoured.
int Reset(GMimeStream* stream) { return stream->position == 0 ? 0 : -1; }
gint64 Seek(GMimeStream* stream, gint64 offset, GMimeSeekWhence whence) {
  const gint64 at = whence == GMIME_STREAM_SEEK_SET   ? offset
                    : whence == GMIME_STREAM_SEEK_CUR ? stream->position + offset
                                                      : -1;
  return at == stream->position ? at : -1;
}
gint64 Tell(GMimeStream* stream) { return stream->position; }
gint64 Length(GMimeStream*) { return -1; }
// Only a parser that keeps its stream asks for parts of it, and none may keep this one.
GMimeStream* Substream(GMimeStream*, gint64, gint64) { return g_mime_stream_mem_new(); }

void Finalize(GObject* object) {
  delete reinterpret_cast<ReaderStream*>(object)->failure;
  parent_class->finalize(object);
}

void ClassInit(gpointer klass, gpointer) {
  parent_class = G_OBJECT_CLASS(g_type_class_peek_parent(klass));
  G_OBJECT_CLASS(klass)->finalize = Finalize;
  auto* stream_class = static_cast<GMimeStreamClass*>(klass);
  stream_class->read = Read;
  stream_class->write = Write;
  stream_class->flush = Flush;
  stream_class->close = Close;
  stream_class->eos = Eos;
  stream_class->reset = Reset;
  stream_class->seek = Seek;
  stream_class->tell = Tell;
  stream_class->length = Length;
  stream_class->substream = Substream;
}

GType ReaderStreamType() {
  static const GType type = g_type_register_static_simple(
      GMIME_TYPE_STREAM, "MailvaneReaderStream", sizeof(ReaderStreamClass), ClassInit,
      sizeof(ReaderStream), nullptr, static_cast<GTypeFlags>(0));
  return type;
}

}  // namespace

GMimeStream* NewReaderStream(source::ByteReader& reader, CutScanner& cuts, gint64 at) {
  auto* self = static_cast<ReaderStream*>(g_object_new(ReaderStreamType(), nullptr));
  self->reader = &reader;
  self->cuts = &cuts;
  self->at = at;
  self->failure = new std::string();
  self->ended = FALSE;
  g_mime_stream_construct(&self->parent, 0, -1);
  return &self->parent;
}

std::string ReaderStreamFailure(GMimeStream* stream) {
  return G_TYPE_CHECK_INSTANCE_TYPE(stream, ReaderStreamType()) ? *Self(stream)->failure
                                                                 : std::string();
}

}  // namespace mailvane::mime
