/// \file
/// CCITT bilevel row coders for TIFF compressions 2 (Modified Huffman), 3
/// (Group 3, one- or two-dimensional) and 4 (Group 4).
///
/// Rows are packed bits, most significant bit first, 1 = white and 0 = black.
/// Decoders take the data's size and never read past it; malformed or
/// exhausted data end a row early (the rest of the row is left white). Fill
/// order 2 reverses the bits of each byte before decoding.
#pragma once
#include <cstdint>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/streams.h"

namespace korvane {

/// A decoder over one strip: keeps the bit position and the changing elements
/// of the previous row between rows.
class KORVANE_EXPORT TCCITTDecoder {
 public:
  TCCITTDecoder(const uint8_t* Data, int64_t DataSize, int32_t Width, int32_t FillOrder);
  /// Each call decodes the next row into Row ((Width + 7) / 8 bytes) and
  /// answers false when the row could not be decoded whole (bad code, or the
  /// data ended). Modified Huffman rows start on a byte boundary; Group 3
  /// rows may be preceded by end-of-line codes (with fill bits), and
  /// two-dimensional Group 3 rows carry the tag bit after them.
  bool DecodeHuffman(uint8_t* Row);
  bool DecodeG3(uint8_t* Row, bool TwoDimensional);
  bool DecodeG4(uint8_t* Row);
  /// Makes the given row the reference of the next two-dimensional row.
  void SetReference(const uint8_t* Row);
  int64_t BitPosition() const { return pos_; }
  void SetBitPosition(int64_t p) { pos_ = p; }
  bool AtEnd() const { return pos_ >= bits_; }

 private:
  uint32_t Peek(int n) const;
  bool Decode1D(uint8_t* Row);
  bool Decode2D(uint8_t* Row);
  bool SkipEols();
  void Resync();
  void Finish(uint8_t* Row, bool ok);

  const uint8_t* data_;
  int64_t size_, bits_, pos_ = 0;
  int32_t width_;
  bool reverse_;
  std::vector<int32_t> ref_, cur_;
  std::vector<uint64_t> toggles_;  // Finish's bit words
};

/// One Modified Huffman row starting at Data; answers the bytes consumed.
KORVANE_EXPORT int32_t CCITTHuffmanGetLine(uint8_t* Row, const uint8_t* Data, int32_t DataSize, int32_t Width,
                                           int32_t FillOrder);
/// One Group 3 one-dimensional row from BitPosition; answers the new position.
KORVANE_EXPORT int64_t _CCITTHuffmanGetLine(uint8_t* Row, const uint8_t* Data, int32_t DataSize,
                                            int32_t Width, int32_t FillOrder, int64_t BitPosition);
/// One Group 3 two-dimensional row (Group4 false: end-of-line and tag bit
/// first) or Group 4 row (Group4 true) coded against ReferenceRow; answers the
/// new bit position.
KORVANE_EXPORT int64_t CCITT3_2D_GetLine(uint8_t* Row, const uint8_t* Data, int32_t DataSize, int32_t Width,
                                         int32_t FillOrder, int64_t BitPosition, const uint8_t* ReferenceRow,
                                         bool Group4);

/// Encoders. Row null is the final call that flushes (and, for the
/// two-dimensional ones, ends the code stream).
/// One Modified Huffman row, padded to a whole byte.
KORVANE_EXPORT void CCITTHuffmanPutLine(const uint8_t* Row, int32_t Width, TStream* Stream);
/// One Group 3 one-dimensional row preceded by an end-of-line code; bits that
/// do not fill a byte are carried in PendingBits / PendingByte.
KORVANE_EXPORT void CCITTHuffmanPutLineG3(const uint8_t* Row, int32_t Width, TStream* Stream,
                                          int32_t& PendingBits, uint8_t& PendingByte);
/// Group 3 two-dimensional: each row an end-of-line code and a tag bit (1 for
/// the first row, coded one-dimensionally, 0 for the others, coded against
/// ReferenceRow, which an empty vector marks as the first row). The final call
/// writes one more end-of-line code.
KORVANE_EXPORT void CCITTHuffmanPutLineG32D(const uint8_t* Row, int32_t Width, TStream* Stream,
                                            std::vector<uint8_t>& ReferenceRow, int32_t& PendingBits,
                                            uint8_t& PendingByte);
/// Group 4: each row coded against the previous one (an all-white row first);
/// the final call writes the end-of-facsimile block and pads with 0 bits.
KORVANE_EXPORT void CCITTHuffmanPutLineG4(const uint8_t* Row, int32_t Width, TStream* Stream,
                                          std::vector<uint8_t>& ReferenceRow, int32_t& PendingBits,
                                          uint8_t& PendingByte);

}  // namespace korvane
