// PNG-compressed icon images, decoded straight through libpng from memory.
// libpng reports errors by longjmp, so the jump target lives in a small C-style
// function that owns no C++ objects; the bitmap is only touched after it
// returned successfully.
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "korvane/io/codecs/bmp/bmp_codec.h"

namespace korvane {

namespace {

// Icons are small; this bounds what a hostile header can make us allocate.
constexpr png_uint_32 kMaxIconSide = 1024;

struct MemSource {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t n) {
  MemSource* src = static_cast<MemSource*>(png_get_io_ptr(png));
  if (n > src->size - src->pos) png_error(png, "read past the icon image");
  std::memcpy(out, src->data + src->pos, n);
  src->pos += n;
}

// libpng's messages are not printed: an error jumps straight back to the
// decoder, a warning is dropped.
void JumpOnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void IgnoreWarning(png_structp, png_const_charp) {}

// Decodes into rows (8-bit RGB, blue first), or only the size when rows is
// null. Returns false on any libpng error. The rows buffer is sized by the
// caller after a first call with rows null.
bool DecodeRows(const uint8_t* data, size_t size, png_uint_32* w, png_uint_32* h, uint8_t* rows) {
  MemSource src{data, size, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpOnError, IgnoreWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  png_bytep* volatile ptrs = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    png_free(png, ptrs);
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_user_limits(png, kMaxIconSide, kMaxIconSide);
  png_set_read_fn(png, &src, ReadFromMemory);
  png_read_info(png, info);
  *w = png_get_image_width(png, info);
  *h = png_get_image_height(png, info);
  if (rows) {
    const int colorType = png_get_color_type(png, info);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_packing(png);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
      png_set_expand_gray_1_2_4_to_8(png);
      png_set_gray_to_rgb(png);
    }
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(*w) * 3) png_error(png, "unexpected row layout");
    ptrs = static_cast<png_bytep*>(png_malloc(png, sizeof(png_bytep) * *h));
    for (png_uint_32 y = 0; y < *h; ++y) ptrs[y] = rows + size_t(y) * *w * 3;
    png_read_image(png, ptrs);
    png_free(png, ptrs);
    ptrs = nullptr;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

}  // namespace

bool DecodeIconPNG(const uint8_t* Data, size_t Size, TBitmap* Bitmap, bool ParamsOnly, int& Width,
                   int& Height) {
  png_uint_32 w = 0, h = 0;
  if (!DecodeRows(Data, Size, &w, &h, nullptr) || w == 0 || h == 0) return false;
  Width = int(w);
  Height = int(h);
  if (ParamsOnly) return true;
  std::vector<uint8_t> rows(size_t(w) * h * 3);
  if (!DecodeRows(Data, Size, &w, &h, rows.data())) return false;
  Bitmap->Allocate(int(w), int(h), pf24bit);
  for (png_uint_32 y = 0; y < h; ++y)
    std::memcpy(Bitmap->Scanline(int(y)), &rows[size_t(y) * w * 3], size_t(w) * 3);
  Bitmap->Changed();
  return true;
}

}  // namespace korvane
