#include "fuzz_seeds.h"

#include <cstdint>
#include <initializer_list>

#include <zlib.h>

namespace tagkit_fuzz {
namespace {

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Str(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Be32(std::uint32_t v) {
  return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}

Bytes SyncSafe(std::uint32_t v) {
  return {std::uint8_t((v >> 21) & 0x7F), std::uint8_t((v >> 14) & 0x7F),
          std::uint8_t((v >> 7) & 0x7F), std::uint8_t(v & 0x7F)};
}

Bytes Header(const char* magic, std::uint8_t major, std::uint8_t flags, std::uint32_t size) {
  return Cat({Str(std::string(magic, 3)), {major, 0, flags}, SyncSafe(size)});
}

Bytes Tag(std::uint8_t major, std::uint8_t flags, const Bytes& body, const char* magic = "ID3") {
  return Cat({Header(magic, major, flags, static_cast<std::uint32_t>(body.size())), body});
}

Bytes F23(const std::string& id, const Bytes& data, std::uint8_t status = 0,
          std::uint8_t format = 0) {
  return Cat({Str(id), Be32(static_cast<std::uint32_t>(data.size())), {status, format}, data});
}

Bytes F24(const std::string& id, const Bytes& data, std::uint8_t status = 0,
          std::uint8_t format = 0) {
  return Cat({Str(id), SyncSafe(static_cast<std::uint32_t>(data.size())), {status, format}, data});
}

// A frame whose header stores its size as a plain 32-bit integer.
Bytes PlainSized(const std::string& id, const Bytes& data) {
  return Cat({Str(id), Be32(static_cast<std::uint32_t>(data.size())), {0, 0}, data});
}

Bytes Zlib(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  compress(out.data(), &size, data.data(), static_cast<uLong>(data.size()));
  out.resize(size);
  return out;
}

// Stuffs a 00 after every FF that precedes 00, a byte >= E0, or the end.
Bytes Unsync(const Bytes& data) {
  Bytes out;
  for (std::size_t i = 0; i < data.size(); ++i) {
    out.push_back(data[i]);
    if (data[i] == 0xFF && (i + 1 == data.size() || data[i + 1] == 0 || data[i + 1] >= 0xE0)) {
      out.push_back(0);
    }
  }
  return out;
}

Bytes F22(const std::string& id, const Bytes& data) {
  std::uint32_t n = static_cast<std::uint32_t>(data.size());
  return Cat({Str(id), {std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)}, data});
}

Bytes Zeros(std::size_t n) { return Bytes(n, 0); }

// MPEG frame sync words and a counter, as audio data.
Bytes Audio(std::size_t n) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = i % 417 == 0 ? 0xFF : i % 417 == 1 ? 0xFB : std::uint8_t(i);
  return out;
}

Bytes V1(const std::string& title, int track, int genre) {
  Bytes out = Str("TAG");
  Bytes field(125, ' ');
  for (std::size_t i = 0; i < title.size() && i < 30; ++i) field[i] = std::uint8_t(title[i]);
  const char year[] = "2008";
  for (int i = 0; i < 4; ++i) field[90 + i] = std::uint8_t(year[i]);
  if (track >= 0) {
    field[122] = 0;
    field[123] = std::uint8_t(track);
  }
  field[124] = std::uint8_t(genre);
  out.insert(out.end(), field.begin(), field.end());
  return out;
}

Bytes Latin(const std::string& text) { return Cat({{0}, Str(text)}); }

Bytes Utf16Le(const std::string& ascii) {
  Bytes out = {1, 0xFF, 0xFE};
  for (char c : ascii) out.insert(out.end(), {std::uint8_t(c), 0});
  return out;
}

Bytes Utf16Be(const std::string& ascii) {
  Bytes out = {1, 0xFE, 0xFF};
  for (char c : ascii) out.insert(out.end(), {0, std::uint8_t(c)});
  return out;
}

Bytes Picture23() {
  return Cat({{0}, Str("image/jpeg"), {0, 3}, Str("cover"), {0}, {0xFF, 0xD8, 0xFF, 0xE0, 1, 2}});
}

Bytes Picture22() { return Cat({{0}, Str("PNG"), {3}, {0}, {0x89, 'P', 'N', 'G', 1, 2}}); }

Bytes MusicId() {
  Bytes id(64);
  for (std::size_t i = 0; i < id.size(); ++i) id[i] = std::uint8_t('a' + i % 26);
  return Cat({Str("http://www.vrelkmusic.com/tag"), {0}, id});
}

// Encoding, MIME type, description, empty filename, data.
Bytes Geob(const std::string& mime, const std::string& description, bool utf16) {
  const Bytes data = {1, 2, 3, 4, 5};
  if (!utf16) return Cat({{0}, Str(mime), {0}, Str(description), {0}, {0}, data});
  Bytes desc = Utf16Le(description);
  desc.erase(desc.begin());
  return Cat({{1}, Str(mime), {0}, desc, {0, 0}, {0, 0}, data});
}

Bytes Frames23() {
  return Cat({F23("TIT2", Latin("Title")), F23("TPE1", Utf16Le("Artist")),
              F23("TALB", Utf16Be("Album")), F23("TCON", Latin("(17)")),
              F23("TRCK", Latin("3/12")), F23("TCOM", Latin("Composer")),
              F23("TCOP", Latin("2008 Maker")), F23("TSRC", Latin("USABC0800001")),
              F23("WOAR", Str("http://example.invalid/a")), F23("WOAR", Str("http://b")),
              F23("TYER", Latin("2008")), F23("TDAT", Latin("0512")), F23("TIME", Latin("1230")),
              F23("TXXX", Cat({Utf16Be("desc"), {0, 0}, {0xFE, 0xFF, 0, 'v'}})),
              F23("COMM", Cat({{1}, Str("eng"), {0xFE, 0xFF, 0, 'c', 0, 0}})),
              F23("APIC", Picture23()), F23("UFID", MusicId()),
              F23("GEOB", Geob("binary", "USR_MTDID", false)),
              F23("GEOB", Geob("application/QZVLX", "USR_QZVLX", true))});
}

Bytes Utf8(const std::string& text) { return Cat({{3}, Str(text), {0}}); }

Bytes Frames24() {
  return Cat({F24("TIT2", Utf8("Title")), F24("TPE1", Utf16Le("Artist")),
              F24("TALB", Cat({{2}, {0, 'A', 0, 'l'}})), F24("TCON", Latin("17")),
              F24("TDRC", Latin("2008-05-12T12:30")), F24("TXXX", Cat({{3}, Str("d"), {0}, Str("v")})),
              F24("COMM", Cat({{3}, Str("eng"), {0}, Str("c")})), F24("APIC", Cat({Picture23(), Zeros(200)})),
              F24("UFID", MusicId()), F24("GEOB", Geob("binary", "USR_MTDID", false))});
}

Bytes Frames22() {
  return Cat({F22("TT2", Latin("Title")), F22("TP1", Utf16Le("Artist")),
              F22("TAL", Utf16Be("Album")), F22("TCO", Latin("Rock")), F22("TRK", Latin("7")),
              F22("TYE", Latin("1999")), F22("TDA", Latin("3112")), F22("WAR", Str("http://a")),
              F22("PIC", Picture22()), F22("UFI", MusicId()),
              F22("GEO", Geob("binary", "USR_MTDID", false))});
}

// Container codec data header: "KQ7", version, size 96, encryption id,
// codec and its parameters.
Bytes Codec(std::uint16_t encryption, std::uint8_t codec, std::uint8_t b33, std::uint8_t b34,
            std::uint8_t b35) {
  Bytes out(96, 0);
  out[0] = 'K'; out[1] = 'Q'; out[2] = '7'; out[3] = 1;
  out[4] = 0; out[5] = 96;
  out[6] = std::uint8_t(encryption >> 8); out[7] = std::uint8_t(encryption);
  for (int i = 8; i < 32; ++i) out[i] = std::uint8_t(i);
  out[32] = codec; out[33] = b33; out[34] = b34; out[35] = b35;
  for (int i = 88; i < 96; ++i) out[i] = std::uint8_t(0xA0 + i);
  return out;
}

}  // namespace

std::vector<std::pair<std::string, Bytes>> MadeSeeds() {
  std::vector<std::pair<std::string, Bytes>> seeds;
  auto add = [&seeds](const std::string& name, const Bytes& bytes) {
    seeds.emplace_back(name, bytes);
  };
  add("empty", {});
  add("header-only", Header("ID3", 3, 0, 0));
  add("v23-full", Cat({Tag(3, 0, Cat({Frames23(), Zeros(64)})), Audio(600), V1("Old", 5, 17)}));
  add("v22-full", Cat({Tag(2, 0, Cat({Frames22(), Zeros(32)})), Audio(500)}));
  add("v1-only", Cat({Audio(300), V1("Only v1", -1, 255)}));
  add("v1-short-file", V1("x", 1, 1));
  // Unsynchronised: FF 00 pairs inside frame data and at a frame boundary.
  add("v23-unsync",
      Cat({Tag(3, 0x80, Cat({F23("TIT2", {0, 'A', 0xFF, 0x00, 0xE0, 'B'}),
                             F23("APIC", Cat({{0}, Str("image/png"), {0, 3, 0, 0xFF, 0x00, 0xFF}})),
                             {0x00}, Zeros(20)})),
           Audio(200)}));
  add("v23-ext-header", Cat({Tag(3, 0x40, Cat({Be32(6), {0, 0}, Be32(16), F23("TIT2", Latin("E")),
                                              Zeros(16)})),
                             Audio(100)}));
  add("v23-ext-crc", Cat({Tag(3, 0x40, Cat({Be32(10), {0x80, 0}, Be32(0), Be32(0x12345678),
                                           F23("TPE1", Latin("C"))})),
                          Audio(100)}));
  add("v23-frame-flags",
      Cat({Tag(3, 0, Cat({F23("TIT2", Cat({Be32(40), {7}, Latin("compressed grouped")}), 0xE0, 0xA0),
                          F23("TALB", Cat({{3}, Latin("encrypted")}), 0, 0x40), Zeros(10)})),
           Audio(64)}));
  add("v24", Cat({Tag(4, 0, Cat({F23("TIT2", Latin("Four")), Zeros(10)})), Audio(100)}));
  add("v24-full", Cat({Tag(4, 0, Cat({Frames24(), Zeros(64)})), Audio(300), V1("Four", 4, 4)}));
  const Bytes text = Utf8("compressed text compressed text compressed text");
  add("v24-compressed",
      Cat({Tag(4, 0, Cat({F24("TIT2", Cat({SyncSafe(std::uint32_t(text.size())), Zlib(text)}), 0, 0x09),
                          F24("APIC", Cat({SyncSafe(1000), Zlib(Cat({Picture23(), Zeros(983)}))}), 0, 0x09),
                          F24("TPE1", Zlib(Latin("no length indicator")), 0, 0x08), Zeros(16)})),
           Audio(100)}));
  add("v24-frame-unsync",
      Cat({Tag(4, 0, Cat({F24("TIT2", Unsync({0, 'A', 0xFF, 0xE0, 0xFF, 0x00, 'B', 0xFF}), 0, 0x02),
                          F24("APIC", Cat({SyncSafe(14), Unsync(Cat({Picture23()}))}), 0, 0x03),
                          F24("TALB", Cat({SyncSafe(60), Unsync(Zlib(Cat({Latin("z"), {0xFF, 0xFF}, Zeros(57)})))}), 0, 0x0B),
                          Zeros(8)})),
           Audio(100)}));
  add("v24-tag-unsync",
      Cat({Tag(4, 0x80, Cat({F24("TIT2", Unsync({0, 'T', 0xFF, 0x00, 'x'})),
                             F24("TPE1", Unsync({0, 'P', 0xFF, 0xF0}), 0, 0x02), Zeros(12)})),
           Audio(100)}));
  add("v24-forged-length",
      Cat({Tag(4, 0, Cat({F24("TIT2", Cat({SyncSafe(0x0FFFFFFF), Zlib(text)}), 0, 0x09),
                          F24("TPE1", Cat({SyncSafe(0x0FFFFFFF), Latin("plain")}), 0, 0x01),
                          F24("TALB", Cat({SyncSafe(5), Str("not zlib")}), 0, 0x09)})),
           Audio(100)}));
  add("v24-zip-bomb", Cat({Tag(4, 0, F24("APIC", Cat({SyncSafe(0), Zlib(Zeros(4u << 20))}), 0, 0x09)),
                           Audio(64)}));
  add("v24-footer", Cat({Tag(4, 0x10, F24("TIT2", Latin("Footer"))), Str("3DI"), {4, 0, 0x10},
                         SyncSafe(17), Audio(100)}));
  add("v24-ext-header",
      Cat({Tag(4, 0x40, Cat({SyncSafe(15), {1, 0x70, 0, 5, 1, 2, 3, 4, 5, 1, 0x1F}, F24("TIT2", Latin("E")),
                             Zeros(10)})),
           Audio(100)}));
  add("v24-ext-flag-only", Cat({Tag(4, 0x40, Cat({F24("TIT2", Latin("No ext")), Zeros(10)})), Audio(100)}));
  add("v24-plain-sizes",
      Cat({Tag(4, 0, Cat({PlainSized("TIT2", Cat({Latin("Plain"), Zeros(200)})), PlainSized("TPE1", Latin("P")),
                          PlainSized("APIC", Cat({Picture23(), Zeros(300)})), Zeros(10)})),
           Audio(100)}));
  add("v24-grouped-encrypted",
      Cat({Tag(4, 0, Cat({F24("TIT2", Cat({{7}, Latin("grouped")}), 0x70, 0x40),
                          F24("TALB", Cat({{0x80}, Latin("encrypted")}), 0, 0x04),
                          F24("TPE1", Cat({{7, 0x80}, SyncSafe(40), Zlib(text)}), 0, 0x4D)})),
           Audio(100)}));
  add("v23-compressed", Cat({Tag(3, 0, Cat({F23("TIT2", Cat({Be32(std::uint32_t(text.size())), Zlib(text)}), 0, 0x80),
                                           Zeros(10)})),
                             Audio(100)}));
  add("v23-revision-1", Cat({Cat({Str("ID3"), {3, 1, 0}, SyncSafe(20)}), F23("TIT2", Latin("R")),
                             Zeros(9), Audio(50)}));
  // Declared sizes far beyond the file's few kilobytes.
  add("tag-256mb", Cat({Header("ID3", 3, 0, 0x10000000), F23("TIT2", Latin("Big")), Audio(3000)}));
  add("frame-256mb", Cat({Header("ID3", 3, 0, 4000),
                          Cat({Str("TIT2"), Be32(0x10000000), {0, 0}, Latin("x")}), Audio(3000)}));
  add("frame-4gb-apic", Cat({Header("ID3", 3, 0, 4000),
                             Cat({Str("APIC"), Be32(0xFFFFFFFF), {0, 0}}), Picture23(),
                             Audio(3000)}));
  add("frame-16mb-v22", Cat({Header("ID3", 2, 0, 3000), Str("GEO"), {0xFF, 0xFF, 0xFF},
                             Geob("binary", "USR_MTDID", false), Audio(3000)}));
  add("tag-truncated", Cat({Header("ID3", 3, 0, 500), F23("TIT2", Latin("Cut")), F23("TPE1", {0})}));
  add("kq7-codec1", Cat({Tag(3, 0, Cat({F23("TIT2", Latin("Container")), Zeros(50)}), "kq7"),
                         Codec(1, 1, 0, 0x28, 0x5F), Audio(256)}));
  add("kq7-codec0", Cat({Tag(3, 0, F23("TPE1", Latin("C0")), "kq7"), Codec(0, 0, 3, 0x21, 0x40),
                         Audio(128)}));
  add("kq7-untagged", Cat({Codec(1, 1, 0, 0x41, 0xFF), Audio(64)}));
  return seeds;
}

}  // namespace tagkit_fuzz
