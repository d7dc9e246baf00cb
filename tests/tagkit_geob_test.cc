#include "tagkit.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tag_frames.h"
#include "test_support.h"

namespace {

using namespace tagkit_test;
typedef boost::shared_ptr<CTagkit::CGeob> GeobPtr;

const Bytes kBody = {0, 1, 2, 0xFF, 0xFE, 0, 0};

Bytes File23(const Bytes& frames) { return TaggedFile(3, frames); }
Bytes File22(const Bytes& frames) { return TaggedFile(2, frames); }
// An encoding-0 payload with an empty filename.
Bytes Geob(const std::string& mime, const std::string& description, const Bytes& data) {
  return Concat({{0}, Text(mime), {0, 0}, Text(description), {0}, data});
}
Bytes Utf16BeDescription(const std::string& ascii) {
  Bytes out = {0xFE, 0xFF};
  for (char c : ascii) out.insert(out.end(), {0, static_cast<unsigned char>(c)});
  out.insert(out.end(), {0, 0});
  return out;
}

GeobPtr MakeGeob(const Bytes& data, const std::string& mime, const std::wstring& description) {
  GeobPtr geob(new CTagkit::CGeob());
  EXPECT_EQ(S_OK, geob->SetData(data.data(), static_cast<std::int32_t>(data.size())));
  geob->SetMimeType(mime);
  geob->SetDescription(description);
  return geob;
}

Bytes GeobData(const GeobPtr& geob) {
  unsigned char* buffer = nullptr;
  std::int32_t size = 0;
  EXPECT_EQ(S_OK, geob->GetData(&buffer, size));
  Bytes out(buffer, buffer + size);
  CoTaskMemFree(buffer);
  return out;
}

class TagkitGeobTest : public SongFileTest {
 protected:
  // Data of both properties after opening, or "absent".
  void ExpectObjects(const Bytes* mtdid, const Bytes* qzvlx) {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
    const std::int32_t ids[] = {PROPID_OBJECT_MTDID, PROPID_OBJECT_QZVLX};
    const Bytes* expected[] = {mtdid, qzvlx};
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(ids[i]);
      std::vector<GeobPtr> objects;
      if (expected[i] == nullptr) {
        EXPECT_EQ(E_TAG_NO_VALUE, tag.GetGeob(ids[i], objects));
        continue;
      }
      ASSERT_EQ(S_OK, tag.GetGeob(ids[i], objects));
      ASSERT_EQ(1u, objects.size());
      EXPECT_EQ(*expected[i], GeobData(objects[0]));
    }
  }
};

TEST_F(TagkitGeobTest, MatchesFramesByDescription) {
  const Bytes a = {0xA};
  const Bytes b = {0xB};
  struct Row {
    const char* name;
    Bytes file;
    const Bytes* mtdid;
    const Bytes* qzvlx;
  } rows[] = {
      {"both kinds", File23(Concat({Frame23("GEOB", Geob("binary", "USR_QZVLX", b)),
                                    Frame23("GEOB", Geob("x", "USR_MTDID", a))})),
       &a, &b},
      {"first of two", File23(Concat({Frame23("GEOB", Geob("m", "USR_QZVLX", b)),
                                      Frame23("GEOB", Geob("m", "USR_QZVLX", a))})),
       nullptr, &b},
      {"lower-case description", File23(Frame23("GEOB", Geob("m", "usr_qzvlx", b))), nullptr, nullptr},
      {"UTF-16 big-endian description",
       File23(Frame23("GEOB", Concat({{1}, Text("m"), {0, 0, 0}, Utf16BeDescription("USR_MTDID"), a}))), &a,
       nullptr},
      {"description without byte-order mark",
       File23(Frame23("GEOB", Concat({{1}, Text("m"), {0, 0, 0}, {'U', 0, 0, 0}, a}))), nullptr, nullptr},
      {"non-empty filename", File23(Frame23("GEOB", Concat({{0}, Text("m"), {0}, Text("f"), {0}, Text("USR_MTDID"), {0}, a}))),
       nullptr, nullptr},
      {"ID3v2.2", File22(Frame22("GEO", Geob("m", "USR_MTDID", a))), &a, nullptr},
      {"frame claiming 2 GB", File23(Concat({Text("GEOB"), {0x7F, 0xFF, 0xFF, 0xF0, 0, 0}, Geob("m", "USR_MTDID", a)})),
       nullptr, nullptr},
      {"malformed frame first", File23(Concat({Frame23("GEOB", Concat({{3}, Text("m"), {0, 0}, Text("USR_MTDID"), {0}})),
                                               Frame23("GEOB", Geob("m", "USR_MTDID", a))})),
       &a, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.file);
    ExpectObjects(row.mtdid, row.qzvlx);
  }
}

TEST_F(TagkitGeobTest, CommitRebuildsTheFramesFromTheCache) {
  const Bytes a = {0xA, 0};
  Write(File23(Concat({Frame23("GEOB", Geob("m", "USR_QZVLX", {1})), Frame23("GEOB", Geob("m", "USR_QZVLX", {2})),
                       Frame23("GEOB", Geob("x", "other", {3})), Frame23("GEOB", Geob("m", "USR_MTDID", a))})));
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
    // Any change opens the transaction, and the commit rebuilds the objects.
    ASSERT_EQ(S_OK, tag.PutString(PROPID_ARTIST, {L"someone"}));
    ASSERT_EQ(S_OK, tag.Close());
  }
  const Bytes file = Read();
  EXPECT_EQ((std::vector<Bytes>{Geob("binary", "USR_MTDID", a), Geob("application/QZVLX", "USR_QZVLX", {1})}),
            FramesWithId(file, "GEOB"));
  EXPECT_EQ(TagAudio(), AudioPart(file));
}

TEST_F(TagkitGeobTest, PutWritesTheKindsMimeTypeAndDescription) {
  struct Row {
    const char* name;
    bool v22;
  } rows[] = {{"ID3v2.3", false}, {"ID3v2.2", true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.v22 ? File22(Frame22("GEO", Geob("m", "USR_MTDID", {9}))) : File23(Frame23("GEOB", Geob("m", "USR_MTDID", {9}))));
    GeobPtr mtdid = MakeGeob(kBody, "text/plain", L"mine");
    GeobPtr qzvlx = MakeGeob({7, 7}, "", L"");
    {
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
      ASSERT_EQ(S_OK, tag.PutGeob(PROPID_OBJECT_QZVLX, {qzvlx, MakeGeob({1}, "", L"")}));
      ASSERT_EQ(S_OK, tag.PutGeob(PROPID_OBJECT_MTDID, {mtdid}));
      std::vector<GeobPtr> cached;
      ASSERT_EQ(S_OK, tag.GetGeob(PROPID_OBJECT_QZVLX, cached));
      EXPECT_EQ(2u, cached.size());
      EXPECT_EQ(qzvlx, cached[0]);
      ASSERT_EQ(S_OK, tag.Close());
    }
    // The caller's objects show what was written.
    std::string mime;
    std::wstring description;
    mtdid->GetMimeType(mime);
    mtdid->GetDescription(description);
    EXPECT_EQ("binary", mime);
    EXPECT_EQ(L"USR_MTDID", description);
    qzvlx->GetMimeType(mime);
    qzvlx->GetDescription(description);
    EXPECT_EQ("application/QZVLX", mime);
    EXPECT_EQ(L"USR_QZVLX", description);

    EXPECT_EQ((std::vector<Bytes>{Geob("binary", "USR_MTDID", kBody), Geob("application/QZVLX", "USR_QZVLX", {7, 7})}),
              FramesWithId(Read(), row.v22 ? "GEO" : "GEOB"));
  }
}

TEST_F(TagkitGeobTest, EmptyVectorRemovesTheObject) {
  Write(File23(Concat({Frame23("GEOB", Geob("m", "USR_QZVLX", {1})), Frame23("GEOB", Geob("m", "USR_MTDID", {2}))})));
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
    ASSERT_EQ(S_OK, tag.PutGeob(PROPID_OBJECT_QZVLX, std::vector<GeobPtr>()));
    std::vector<GeobPtr> objects;
    EXPECT_EQ(E_TAG_NO_VALUE, tag.GetGeob(PROPID_OBJECT_QZVLX, objects));
    ASSERT_EQ(S_OK, tag.Close());
  }
  EXPECT_EQ(std::vector<Bytes>{Geob("binary", "USR_MTDID", {2})}, FramesWithId(Read(), "GEOB"));
}

TEST_F(TagkitGeobTest, RefusedCalls) {
  const Bytes original = File23(Frame23("GEOB", Geob("m", "USR_MTDID", {2})));
  Write(original);
  CTagkit tag;
  std::vector<GeobPtr> objects = {MakeGeob({1}, "", L"")};
  EXPECT_EQ(E_UNEXPECTED, tag.GetGeob(PROPID_OBJECT_MTDID, objects));
  EXPECT_EQ(E_UNEXPECTED, tag.PutGeob(PROPID_OBJECT_MTDID, objects));
  ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
  // Refused at once: at the commit they would fail the whole Close.
  EXPECT_EQ(E_TAG_UNSUPPORTED, tag.PutGeob(PROPID_PICTURE, objects));
  EXPECT_EQ(E_TAG_UNSUPPORTED, tag.PutGeob(0x7777, objects));
  EXPECT_EQ(E_POINTER, tag.PutGeob(PROPID_OBJECT_MTDID, {GeobPtr()}));
  EXPECT_EQ(E_TAG_NO_VALUE, tag.GetGeob(PROPID_PICTURE, objects));
  EXPECT_EQ(S_OK, tag.Close());
  EXPECT_EQ(original, Read());
}

}  // namespace
