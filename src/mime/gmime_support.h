// Small helpers around GMime: one-time initialisation, owning references to GObjects,
// and reading a part's decoded content.
#pragma once

#include <gmime/gmime.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mailvane::mime {

// Calls g_mime_init exactly once per process; safe from any thread.
void EnsureGMimeInitialized();

struct GObjectUnref {
  void operator()(gpointer p) const {
    if (p) g_object_unref(p);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFreeDeleter {
  void operator()(gpointer p) const { g_free(p); }
};
// Takes ownership of a g_malloc'ed string; empty for nullptr.
std::string TakeGString(char* s);

// A part's content with its transfer encoding undone, read in chunks so that the bytes
// exist once. An empty part gives an empty vector.
std::vector<std::uint8_t> DecodedContent(GMimePart* part);

// The object as it would be written out (headers and body), for parts kept as raw data.
std::vector<std::uint8_t> SerializedObject(GMimeObject* object);

// Parser options for real-world mail: loose compliance and UTF-8 / Windows-1252 as the
// fallback charsets of undeclared 8-bit header text. Shared, never freed.
GMimeParserOptions* LooseParserOptions();

}  // namespace mailvane::mime
