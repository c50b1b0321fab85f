// The embedding interface from C++17: decodes a JBIG2 file (or codes a page
// and decodes it back when none is given) with RAII owners over the C
// objects. Built by tests/install/check_install.sh against the installed
// CMake package.
#include <jbig2codec/jb2_decode.h>
#include <jbig2codec/jb2_encode.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

struct EncoderFree {
  void operator()(jb2_encoder* e) const { jb2_encoder_destroy(e); }
};
struct DecoderFree {
  void operator()(jb2_decoder* d) const { jb2_decoder_destroy(d); }
};

std::vector<unsigned char> CodeAPage(const std::vector<unsigned char>& rows, uint32_t width, uint32_t height, size_t stride) {
  jb2_encoder* raw = nullptr;
  if (jb2_encoder_create(&raw) != JB2_OK) return {};
  std::unique_ptr<jb2_encoder, EncoderFree> encoder(raw);
  unsigned char* data = nullptr;
  size_t size = 0;
  if (jb2_encode_page(encoder.get(), rows.data(), width, height, stride, 0, 0, &data, &size) != JB2_OK) return {};
  std::vector<unsigned char> file(data, data + size);
  jb2_free(data);
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t width = 123, height = 45;
  const size_t stride = (width + 7) / 8;
  std::vector<unsigned char> rows(stride * height);
  for (size_t i = 0; i < rows.size(); i += 7) rows[i] = 0x3C;
  for (uint32_t y = 0; y < height; ++y) rows[y * stride + stride - 1] &= 0xFF << (8 - width % 8);
  std::vector<unsigned char> file;
  if (argc > 1) {
    std::ifstream in(argv[1], std::ios::binary);
    file.assign(std::istreambuf_iterator<char>(in), {});
  } else {
    file = CodeAPage(rows, width, height, stride);
  }

  jb2_decoder* raw = nullptr;
  if (jb2_decoder_create(&raw) != JB2_OK) return 1;
  std::unique_ptr<jb2_decoder, DecoderFree> decoder(raw);
  jb2_status status = jb2_decoder_open(decoder.get(), file.data(), file.size());
  if (status != JB2_OK && status != JB2_DAMAGED) {
    std::fprintf(stderr, "not decoded: %s\n", jb2_status_name(status));
    return 1;
  }
  bool same = argc == 1;
  for (uint32_t i = 0; i < jb2_decoder_page_count(decoder.get()); ++i) {
    jb2_page page;
    status = jb2_decoder_decode_page(decoder.get(), i, &page);
    std::printf("page %u: %u x %u, %s\n", page.number, page.width, page.height, jb2_status_name(status));
    if (argc == 1)
      for (uint32_t y = 0; y < height; ++y)
        same = same && std::equal(rows.begin() + static_cast<long>(y * stride), rows.begin() + static_cast<long>((y + 1) * stride),
                                  page.pixels + y * page.stride);
  }
  if (argc == 1) std::printf("%s\n", same ? "same pixels" : "DIFFERENT");
  return argc > 1 || same ? 0 : 1;
}
