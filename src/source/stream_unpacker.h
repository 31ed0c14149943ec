// The compression around an archive file (gzip, bzip2, xz or zstd), undone here with the
// codecs' own libraries rather than inside libarchive, which neither checks a gzip trailer
// nor says what follows the compressed stream.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace mailvane::source {

class StreamUnpacker {
 public:
  // The unpacker for a stream beginning with these bytes (at least 6 when the stream has
  // them), or nullptr when they name none of the four.
  static std::unique_ptr<StreamUnpacker> For(std::string_view first_bytes);

  virtual ~StreamUnpacker() = default;

  struct Step {
    std::size_t used = 0;  // input bytes taken
    std::size_t made = 0;  // output bytes written
    bool member_ended = false;  // a whole member (gzip member, xz stream, zstd frame) ended
    std::string error;  // the codec's complaint: the data are damaged
  };
  // Unpacks from in into out as far as either goes.
  virtual Step Unpack(const char* in, std::size_t in_size, char* out, std::size_t out_size) = 0;
  // Ready for a further member after one ended.
  virtual void Restart() = 0;
  // "gzip", "bzip2", "xz", "zstd": how messages name the compression.
  virtual const char* Name() const = 0;
};

}  // namespace mailvane::source
