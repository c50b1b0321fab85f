// The decoder's embedding interface: a decoder object holding a copy of the
// data, its limits and its message callback, decoding one page at a time.
#include <cstring>
#include <new>
#include <vector>

#include "common/limits.h"
#include "common/messages.h"
#include "common/segment_header.h"
#include "decoder/decode_context.h"
#include "decoder/untransclib.h"
#include "include/jbig2codec/jb2_decode.h"

struct jb2_decoder {
  jb2msg::Sink sink;
  uint64_t maxPagePixels = kMaxBitmapPixels;
  uint64_t maxBitmapPixels = kMaxBitmapPixels;
  std::vector<unsigned char> data;
  JB2FILE file{};
  bool open = false;
  bool globalsDecoded = false;
  bool damaged = false;  // the file's structure or its global segments

  ~jb2_decoder() { Close(); }
  void Close() {
    if (!open) return;
    for (uint32_t i = 0; i < file.nPages; ++i) DestroyBMP(&file.pPages[i].Bitmap);
    JB2FreeFile(&file);
    file = JB2FILE{};
    open = false;
  }
};

namespace {

// Parses `bytes`, which the decoder now owns.
jb2_status Open(jb2_decoder* d, std::vector<unsigned char> bytes) {
  d->Close();
  d->data = std::move(bytes);
  d->globalsDecoded = false;
  d->damaged = false;
  jb2msg::ScopedSink scope(&d->sink);
  const uint64_t errorsBefore = d->sink.errors;
  d->file.pFileData = d->data.data();
  d->file.lFileSize = d->data.size();
  const int parsed = JB2ParseFile(&d->file);
  if (parsed == 2) return JB2_ERROR_NO_MEMORY;
  if (parsed != 0) return JB2_ERROR_NOT_JBIG2;
  d->open = true;
  d->file.lMaxBitmapPixels = d->maxBitmapPixels;
  d->file.pContext->lMaxPagePixels = d->maxPagePixels;
  d->damaged = d->sink.errors != errorsBefore;
  return d->damaged ? JB2_DAMAGED : JB2_OK;
}

// White pages up to this size (an A3 page at 1200 dpi, A0 at 300 dpi) are
// written once before decoding; see jb2_decoder_decode_page.
constexpr size_t kPrefaultPageBytes = size_t{64} << 20;

// Clears the bits after each row's last pixel.
void ClearSpareBits(BMP* page) {
  if (page->lWidth % 8 == 0) return;
  const auto keep = static_cast<unsigned char>(0xFF00u >> (page->lWidth % 8));
  for (uint32_t y = 0; y < page->lHeight; ++y) page->pData[static_cast<size_t>(y) * page->lStride + page->lBytesPerRow - 1] &= keep;
}

}  // namespace

jb2_status jb2_decoder_create(jb2_decoder** decoder) {
  if (!decoder) return JB2_ERROR_ARGUMENT;
  *decoder = new (std::nothrow) jb2_decoder;
  return *decoder ? JB2_OK : JB2_ERROR_NO_MEMORY;
}

void jb2_decoder_destroy(jb2_decoder* decoder) { delete decoder; }

void jb2_decoder_set_messages(jb2_decoder* decoder, jb2_message_fn callback, void* user) {
  if (!decoder) return;
  decoder->sink.callback = callback;
  decoder->sink.user = user;
}

void jb2_decoder_set_limits(jb2_decoder* decoder, uint64_t max_page_pixels, uint64_t max_bitmap_pixels) {
  if (!decoder) return;
  decoder->maxPagePixels = max_page_pixels ? max_page_pixels : kMaxBitmapPixels;
  decoder->maxBitmapPixels = max_bitmap_pixels ? max_bitmap_pixels : kMaxBitmapPixels;
  if (!decoder->open) return;
  decoder->file.lMaxBitmapPixels = decoder->maxBitmapPixels;
  decoder->file.pContext->lMaxPagePixels = decoder->maxPagePixels;
}

jb2_status jb2_decoder_open(jb2_decoder* decoder, const unsigned char* data, size_t size) {
  if (!decoder || (!data && size != 0)) return JB2_ERROR_ARGUMENT;
  try {
    return Open(decoder, std::vector<unsigned char>(data, data + size));
  } catch (const std::bad_alloc&) {
    decoder->Close();
    return JB2_ERROR_NO_MEMORY;
  }
}

jb2_status jb2_decoder_open_embedded(jb2_decoder* decoder, const unsigned char* page, size_t page_size,
                                     const unsigned char* globals, size_t globals_size) {
  if (!decoder || !page || page_size == 0 || (!globals && globals_size != 0)) return JB2_ERROR_ARGUMENT;
  try {
    // The segments of both streams follow each other as in a sequential
    // file (T.88 D.3): read them behind such a file's header, with the page
    // count unknown.
    std::vector<unsigned char> bytes(kFileIdString, kFileIdString + kFileIdLength);
    bytes.push_back(kFileFlagSequential | kFileFlagPagesUnknown);
    if (globals) bytes.insert(bytes.end(), globals, globals + globals_size);
    bytes.insert(bytes.end(), page, page + page_size);
    return Open(decoder, std::move(bytes));
  } catch (const std::bad_alloc&) {
    decoder->Close();
    return JB2_ERROR_NO_MEMORY;
  }
}

uint32_t jb2_decoder_page_count(const jb2_decoder* decoder) {
  return decoder && decoder->open ? decoder->file.nPages : 0;
}

jb2_status jb2_decoder_decode_page(jb2_decoder* decoder, uint32_t index, jb2_page* page) {
  if (page) *page = jb2_page{};
  if (!decoder || !page || !decoder->open || index >= decoder->file.nPages) return JB2_ERROR_ARGUMENT;
  jb2msg::ScopedSink scope(&decoder->sink);
  JB2FILE& file = decoder->file;
  try {
    if (!decoder->globalsDecoded) {
      decoder->damaged |= UntranscodeGlobal(&file) != 0;
      decoder->globalsDecoded = true;
    }
    // One page is held at a time.
    for (uint32_t i = 0; i < file.nPages; ++i) DestroyBMP(&file.pPages[i].Bitmap);
    JB2PAGE* p = &file.pPages[index];
    const PAGE_INFO& info = p->Info;
    const uint64_t rows = info.lHeight == 0xFFFFFFFFu ? 1 : info.lHeight;
    if (!PageSizeAccepted(info.lWidth, info.lHeight) || StoredBitmapPixels(info.lWidth, rows) > decoder->maxPagePixels) {
      PrintError("Page Too Large: Not Decoded");
      return JB2_ERROR_LIMIT;
    }
    CreateBMP(&p->Bitmap, info.lWidth, info.lHeight, static_cast<int>(info.lDefaultPixel));
    if (!p->Bitmap.pData && info.lWidth != 0 && rows != 0) return JB2_ERROR_NO_MEMORY;
    // Zeroed memory fresh from the system is mapped on first touch, twice
    // when that touch reads (drawing ORs into the page): writing it once
    // now maps each page of it once. Larger pages stay mapped lazily.
    const size_t pageBytes = size_t{p->Bitmap.lStride} * p->Bitmap.lHeight;
    if (info.lDefaultPixel == 0 && p->Bitmap.pData && pageBytes <= kPrefaultPageBytes)
      std::memset(p->Bitmap.pData, 0, pageBytes);
    const bool damaged = UntranscodePage(p) != 0 || decoder->damaged;
    ClearSpareBits(&p->Bitmap);
    page->number = p->lPageNumber;
    page->width = p->Bitmap.lWidth;
    page->height = p->Bitmap.lHeight;
    page->stride = p->Bitmap.lStride;
    page->pixels = p->Bitmap.pData;
    page->x_resolution = info.lXResolution;
    page->y_resolution = info.lYResolution;
    return damaged ? JB2_DAMAGED : JB2_OK;
  } catch (const std::bad_alloc&) {
    for (uint32_t i = 0; i < file.nPages; ++i) DestroyBMP(&file.pPages[i].Bitmap);
    return JB2_ERROR_NO_MEMORY;
  }
}
