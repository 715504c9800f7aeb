// The image formats recognised by their first bytes.
#include "base/ImageSignature.h"

#include <gtest/gtest.h>

#include <QByteArray>

namespace {

QByteArray bytes(const char* text, qsizetype size) {
  return QByteArray(text, size);
}

TEST(ImageSignature, NamesEachAcceptedFormatByItsFirstBytes) {
  const struct {
    const char* what;
    QByteArray head;
    const char* format;  // "" for none
  } cases[] = {
      {"png", bytes("\x89PNG\r\n\x1A\n\0\0\0\x0D", 12), "png"},
      {"png cut short", bytes("\x89PNG\r\n\x1A", 7), ""},
      {"png with a wrong byte", bytes("\x89PNG\r\n\x1A\r\0\0\0\x0D", 12), ""},
      {"jpeg", bytes("\xFF\xD8\xFF\xE0", 4), "jpeg"},
      {"jpeg, only its signature", bytes("\xFF\xD8\xFF", 3), "jpeg"},
      {"webp", bytes("RIFF\x24\0\0\0WEBPVP8 ", 16), "webp"},
      {"riff that is not webp", bytes("RIFF\x24\0\0\0WAVEfmt ", 16), ""},
      {"heic",
       bytes("\0\0\0\x18"
             "ftypheic",
             12),
       "heif"},
      {"heix",
       bytes("\0\0\0\x18"
             "ftypheix",
             12),
       "heif"},
      {"hevc",
       bytes("\0\0\0\x18"
             "ftyphevc",
             12),
       "heif"},
      {"mif1",
       bytes("\0\0\0\x1C"
             "ftypmif1",
             12),
       "heif"},
      {"msf1",
       bytes("\0\0\0\x1C"
             "ftypmsf1",
             12),
       "heif"},
      {"an mp4 brand",
       bytes("\0\0\0\x18"
             "ftypisom",
             12),
       ""},
      {"tiff, little-endian", bytes("II*\0\x08\0\0\0", 8), "tiff"},
      {"tiff, big-endian", bytes("MM\0*\0\0\0\x08", 8), "tiff"},
      {"tiff with the orders mixed", bytes("II\0*\0\0\0\x08", 8), ""},
      {"gif", bytes("GIF89a\x01\0\x01\0\0\0", 12), ""},
      {"html", bytes("<!DOCTYPE ht", 12), ""},
      {"nothing", QByteArray(), ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(imageSignatureFormat(c.head), QString::fromLatin1(c.format)) << c.what;
  }
}

}  // namespace
