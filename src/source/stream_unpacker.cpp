#include "source/stream_unpacker.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <stdexcept>

namespace mailvane::source {

namespace {

bool StartsWith(std::string_view bytes, std::string_view magic) {
  return bytes.substr(0, magic.size()) == magic;
}

class GzipUnpacker : public StreamUnpacker {
 public:
  GzipUnpacker() {
    if (inflateInit2(&z_, 15 + 16) != Z_OK) throw std::runtime_error("zlib could not start");
  }
  ~GzipUnpacker() override { inflateEnd(&z_); }
  Step Unpack(const char* in, std::size_t in_size, char* out, std::size_t out_size) override {
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in));
    z_.avail_in = static_cast<uInt>(in_size);
    z_.next_out = reinterpret_cast<Bytef*>(out);
    z_.avail_out = static_cast<uInt>(out_size);
    const int result = inflate(&z_, Z_NO_FLUSH);
    Step step{in_size - z_.avail_in, out_size - z_.avail_out, result == Z_STREAM_END, {}};
    if (result != Z_OK && result != Z_BUF_ERROR && result != Z_STREAM_END) {
      step.error = z_.msg ? z_.msg : "inflate failed";
    }
    return step;
  }
  void Restart() override { inflateReset(&z_); }
  const char* Name() const override { return "gzip"; }

 private:
  z_stream z_{};
};

class Bzip2Unpacker : public StreamUnpacker {
 public:
  Bzip2Unpacker() { Start(); }
  ~Bzip2Unpacker() override { BZ2_bzDecompressEnd(&s_); }
  Step Unpack(const char* in, std::size_t in_size, char* out, std::size_t out_size) override {
    s_.next_in = const_cast<char*>(in);
    s_.avail_in = static_cast<unsigned>(in_size);
    s_.next_out = out;
    s_.avail_out = static_cast<unsigned>(out_size);
    const int result = BZ2_bzDecompress(&s_);
    Step step{in_size - s_.avail_in, out_size - s_.avail_out, result == BZ_STREAM_END, {}};
    if (result != BZ_OK && result != BZ_STREAM_END) {
      step.error = "bzip2 error " + std::to_string(result);
    }
    return step;
  }
  void Restart() override {
    BZ2_bzDecompressEnd(&s_);
    Start();
  }
  const char* Name() const override { return "bzip2"; }

 private:
  void Start() {
    s_ = bz_stream{};
    if (BZ2_bzDecompressInit(&s_, 0, 0) != BZ_OK) throw std::runtime_error("bzip2 could not start");
  }
  bz_stream s_{};
};

class XzUnpacker : public StreamUnpacker {
 public:
  XzUnpacker() { Start(); }
  ~XzUnpacker() override { lzma_end(&s_); }
  Step Unpack(const char* in, std::size_t in_size, char* out, std::size_t out_size) override {
    s_.next_in = reinterpret_cast<const std::uint8_t*>(in);
    s_.avail_in = in_size;
    s_.next_out = reinterpret_cast<std::uint8_t*>(out);
    s_.avail_out = out_size;
    const lzma_ret result = lzma_code(&s_, LZMA_RUN);
    Step step{in_size - s_.avail_in, out_size - s_.avail_out, result == LZMA_STREAM_END, {}};
    if (result != LZMA_OK && result != LZMA_STREAM_END && result != LZMA_BUF_ERROR) {
      step.error = result == LZMA_DATA_ERROR     ? "the compressed data are corrupt"
                   : result == LZMA_FORMAT_ERROR ? "not an xz stream"
                                                 : "xz error " + std::to_string(result);
    }
    return step;
  }
  void Restart() override {
    lzma_end(&s_);
    Start();
  }
  const char* Name() const override { return "xz"; }

 private:
  void Start() {
    s_ = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&s_, UINT64_MAX, 0) != LZMA_OK) throw std::runtime_error("xz could not start");
  }
  lzma_stream s_ = LZMA_STREAM_INIT;
};

class ZstdUnpacker : public StreamUnpacker {
 public:
  ZstdUnpacker() : s_(ZSTD_createDStream()) {
    if (s_ == nullptr) throw std::runtime_error("zstd could not start");
  }
  ~ZstdUnpacker() override { ZSTD_freeDStream(s_); }
  Step Unpack(const char* in, std::size_t in_size, char* out, std::size_t out_size) override {
    ZSTD_inBuffer input{in, in_size, 0};
    ZSTD_outBuffer output{out, out_size, 0};
    const std::size_t result = ZSTD_decompressStream(s_, &output, &input);
    Step step{input.pos, output.pos, result == 0, {}};
    if (ZSTD_isError(result)) step.error = ZSTD_getErrorName(result);
    return step;
  }
  void Restart() override { ZSTD_DCtx_reset(s_, ZSTD_reset_session_only); }
  const char* Name() const override { return "zstd"; }

 private:
  ZSTD_DStream* s_;
};

}  // namespace

std::unique_ptr<StreamUnpacker> StreamUnpacker::For(std::string_view first_bytes) {
  if (StartsWith(first_bytes, "\x1f\x8b")) return std::make_unique<GzipUnpacker>();
  if (StartsWith(first_bytes, "BZh")) return std::make_unique<Bzip2Unpacker>();
  if (StartsWith(first_bytes, std::string_view("\xfd" "7zXZ\0", 6))) return std::make_unique<XzUnpacker>();
  if (StartsWith(first_bytes, "\x28\xb5\x2f\xfd")) return std::make_unique<ZstdUnpacker>();
  return nullptr;
}

}  // namespace mailvane::source
