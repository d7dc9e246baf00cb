// The two encapsulated objects: GEOB (ID3v2.2: GEO) frames told apart by
// content description, and rebuilt from the cache at every commit.
#include <functional>

#include "tag_inspect.h"
#include "tagkit.h"

namespace {

using namespace tagkit_test;
typedef boost::shared_ptr<CTagkit::CGeob> GeobPtr;

// An encoding-0 payload with an empty filename.
Bytes Geob(const std::string& mime, const std::string& description, const Bytes& data) {
  return Concat({{0}, Text(mime), {0, 0}, Text(description), {0}, data});
}
Bytes G23(const std::string& description, const Bytes& data) { return Frame23("GEOB", Geob("m", description, data)); }
Bytes Mtdid(const Bytes& data) { return Geob("binary", "USR_MTDID", data); }
Bytes Qzvlx(const Bytes& data) { return Geob("application/QZVLX", "USR_QZVLX", data); }

typedef SongFileTest TagkitGeobTest;

TEST_F(TagkitGeobTest, MatchesFramesByDescription) {
  const Bytes a = {0xA}, b = {0xB}, none;
  const struct { const char* name; Bytes frames; Bytes mtdid, qzvlx; int major = 3; } rows[] = {  // none: absent
      {"both kinds", Concat({G23("USR_QZVLX", b), G23("USR_MTDID", a)}), a, b},
      {"first of two", Concat({G23("USR_QZVLX", b), G23("USR_QZVLX", a)}), none, b},
      {"lower-case description", G23("usr_qzvlx", b), none, none},
      {"frame claiming 2 GB", Concat({Text("GEOB"), {0x7F, 0xFF, 0xFF, 0xF0, 0, 0}, Geob("m", "USR_MTDID", a)}), none,
       none},
      // Someone else's malformed frame must not hide ours.
      {"malformed frame first", Concat({Frame23("GEOB", Concat({{3, 'm', 0, 0}, Text("USR_MTDID"), {0}})),
                                        G23("USR_MTDID", a)}), a, none},
      {"ID3v2.2", Frame22("GEO", Geob("m", "USR_MTDID", a)), a, none, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Write(TaggedFile(row.major, row.frames));
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
    for (const auto& kind : {std::make_pair(PROPID_OBJECT_MTDID, row.mtdid),
                             std::make_pair(PROPID_OBJECT_QZVLX, row.qzvlx)}) {
      std::vector<GeobPtr> objects;
      ASSERT_EQ(kind.second.empty() ? E_TAG_NO_VALUE : S_OK, tag.GetGeob(kind.first, objects)) << kind.first;
      if (!kind.second.empty()) { EXPECT_EQ(kind.second, DataOf(objects.at(0))); }
    }
  }
}

// Every commit drops the frames of the two kinds, duplicates too, keeps
// other applications' objects where they are, and writes one frame per
// cached property with the kind's MIME type and description, which the
// caller's object takes on as well.
TEST_F(TagkitGeobTest, CommitRebuildsTheFramesFromTheCache) {
  const Bytes data = {1, 2, 0xFF, 0};
  const GeobPtr mine = Holding<CTagkit::CGeob>(data);
  mine->SetMimeType("text/plain");
  mine->SetDescription(L"mine");
  const std::int32_t qzvlx = PROPID_OBJECT_QZVLX;
  const struct { const char* name; int major; std::function<HRESULT(CTagkit&)> change; std::vector<Bytes> frames; }
      rows[] = {
      {"any change", 3, [](CTagkit& t) { return t.PutString(PROPID_ARTIST, {L"x"}); }, {Mtdid({0xA}), Qzvlx({1})}},
      {"an empty vector removes one", 3, [=](CTagkit& t) { return t.PutGeob(qzvlx, {}); }, {Mtdid({0xA})}},
      {"only the first object is written", 3,
       [&mine](CTagkit& t) { return t.PutGeob(PROPID_OBJECT_QZVLX, {mine, Holding<CTagkit::CGeob>({7})}); },
       {Mtdid({0xA}), Qzvlx(data)}},
      {"ID3v2.2", 2, [&](CTagkit& t) { return t.PutGeob(PROPID_OBJECT_MTDID, {mine}); }, {Mtdid(data), Qzvlx({1})}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const char* id = row.major == 2 ? "GEO" : "GEOB";
    Bytes frames;
    for (const Bytes& payload : {Geob("m", "USR_QZVLX", {1}), Geob("m", "USR_QZVLX", {2}), Geob("x", "other", {3}),
                                 Geob("m", "USR_MTDID", {0xA})}) {
      frames = Concat({frames, row.major == 2 ? Frame22(id, payload) : Frame23(id, payload)});
    }
    Write(TaggedFile(row.major, frames));
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
    ASSERT_EQ(S_OK, row.change(tag));
    ASSERT_EQ(S_OK, tag.Close());
    std::vector<Bytes> expected = {Geob("x", "other", {3})};
    expected.insert(expected.end(), row.frames.begin(), row.frames.end());
    EXPECT_EQ(expected, FramesWithId(Read(), id));
    EXPECT_EQ(TagAudio(), AudioPart(Read()));
  }
  std::string mime;
  std::wstring description;
  mine->GetMimeType(mime);
  mine->GetDescription(description);
  EXPECT_EQ("binary", mime);
  EXPECT_EQ(L"USR_MTDID", description);
}

}  // namespace
