// CTagkit's life: Open and its result codes, Close, copies, the calls it
// refuses, the guarantee that a file changes only through a successful
// commit, and the file operations that reading and committing cost.
#include <algorithm>
#include <functional>

#include <boost/make_shared.hpp>

#include "tag_inspect.h"
#include "tagkit.h"
#include "tlx_system.h"

namespace {

using namespace tagkit_test;

const Bytes kSample = Concat({Id3v2Tag(3, 0, Concat({Frame23("TIT2", Enc0("first")), Frame23("TPE1", Enc0("a"))})),
                              Audio(1200), Id3v1("first", "a", "", "", "", 1, 0)});

// A property read through the object, or "<error>".
std::wstring Get(CTagkit& tag, std::int32_t id = PROPID_TITLE) {
  Strings out;
  return tag.GetString(id, out) == S_OK ? out.at(0) : L"<error>";
}

class TagkitClassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(a_, kSample);
    WriteFile(b_, Concat({Audio(300), Id3v1("second", "", "", "", "", 2, 148)}));
  }
  TempDir dir_;
  const std::string a_ = dir_.File("a.mp3"), b_ = dir_.File("b.mp3");
};

TEST_F(TagkitClassTest, OpenAndClose) {
  ASSERT_TRUE(MakeDir(dir_.File("sub")));
  const struct { const char* name; std::wstring path; std::int32_t mode; HRESULT expected; } cases[] = {
      {"mode 0", Widen(a_), 0, E_INVALIDARG},
      {"mode 3", Widen(a_), 3, E_INVALIDARG},
      {"a flag alone", Widen(a_), TAGKIT_OPEN_V24, E_INVALIDARG},
      {"an unknown flag", Widen(a_), TAGKIT_OPEN_WRITE | 0x400, E_INVALIDARG},
      {"missing file", dir_.WFile("missing.mp3"), 1, E_TAG_FILE_NOT_FOUND},
      {"empty path", L"", 1, E_TAG_FILE_NOT_FOUND},
      {"directory", dir_.WFile("sub"), 2, E_TAG_FILE_NOT_FOUND},
      {"read only", Widen(a_), 1, S_OK},
      {"read and write", Widen(a_), 2, S_OK},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CTagkit tag;
    EXPECT_EQ(c.expected, tag.Open(c.path, c.mode));
    EXPECT_EQ(c.expected == S_OK ? L"first" : L"<error>", Get(tag));
  }
  CTagkit tag, other;
  ASSERT_EQ(S_OK, tag.Open(Widen(a_), 2));
  EXPECT_EQ(E_TAG_CANNOT_OPEN, other.Open(Widen(a_), 1));  // being written elsewhere
  EXPECT_EQ(E_TAG_CANNOT_OPEN, tag.Open(Widen(b_), 0));  // already open, before the mode is checked
  EXPECT_EQ(L"first", Get(tag));
  ASSERT_EQ(S_OK, tag.Close());
  EXPECT_EQ(S_OK, tag.Close());  // closing twice is harmless
  EXPECT_EQ(L"<error>", Get(tag));
  // Reopened on another file, the object forgets the first one.
  ASSERT_EQ(S_OK, tag.Open(Widen(b_), 2));
  EXPECT_EQ(L"second", Get(tag));
  Strings out = {L"kept"};
  EXPECT_EQ(E_TAG_NO_VALUE, tag.GetString(PROPID_ARTIST, out));
  EXPECT_EQ(Strings{L"kept"}, out);  // a failed get leaves the vector alone
}

// Only Close commits: neither destruction nor assignment while editing
// changes the file, and both release it. A copy never shares the engine
// context: both would close the file and commit the same changes.
TEST_F(TagkitClassTest, OnlyCloseCommitsAndCopiesShareNothing) {
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(Widen(a_), 2));
    ASSERT_EQ(S_OK, tag.Close());  // nothing changed: nothing written
    ASSERT_EQ(S_OK, tag.Open(Widen(a_), 2));
    ASSERT_EQ(S_OK, tag.PutString(PROPID_TITLE, {L"dropped"}));
  }
  CTagkit source;
  ASSERT_EQ(S_OK, source.Open(Widen(a_), 2));
  ASSERT_EQ(S_OK, source.PutString(PROPID_TITLE, {L"dropped"}));
  source = CTagkit();
  EXPECT_EQ(L"<error>", Get(source));
  EXPECT_EQ(kSample, ReadFile(a_));

  ASSERT_EQ(S_OK, source.Open(Widen(a_), 2));
  ASSERT_EQ(S_OK, source.PutString(PROPID_ALBUM, {L"kept"}));
  {
    CTagkit copy(source), assigned;
    assigned = source;
    for (CTagkit* c : {&copy, &assigned}) {
      EXPECT_EQ(L"<error>", Get(*c));
      EXPECT_EQ(E_UNEXPECTED, c->PutString(PROPID_TITLE, {L"x"}));
      EXPECT_EQ(S_OK, c->Close());
    }
    EXPECT_EQ(S_OK, copy.Open(Widen(b_), 1));  // a file of its own
    EXPECT_EQ(L"second", Get(copy));
  }
  CTagkit& self = source;
  source = self;  // self-assignment keeps the object as it was
  EXPECT_EQ(L"kept", Get(source, PROPID_ALBUM));
  ASSERT_EQ(S_OK, source.Close());
  ASSERT_EQ(S_OK, source.Open(Widen(a_), 1));
  EXPECT_EQ(L"kept", Get(source, PROPID_ALBUM));
}

// Calls with values to throw away, for the table of refused calls.
HRESULT PutDay(CTagkit& t, std::int32_t id) { double d = 38353; return t.PutDate(id, d); }
HRESULT PutPicture(CTagkit& t, std::int32_t id) { return t.PutBinary(id, {Holding<CTagkit::CPicture>({1})}); }
HRESULT PutObject(CTagkit& t, std::int32_t id) { return t.PutGeob(id, {Holding<CTagkit::CGeob>({1})}); }

// Every refused put returns its code and changes nothing, so Close has
// nothing to commit. Columns: a closed object, one opened read only, one on
// an ID3v2.4 file (read as absent: writing would leave it behind a new tag),
// and one opened for writing on an ID3v2.3 file; 0: not tried there.
TEST_F(TagkitClassTest, RefusedPutsLeaveTheFileAlone) {
  const HRESULT un = E_TAG_UNSUPPORTED, x = E_UNEXPECTED, fail = E_FAIL, null = E_POINTER;
  const std::int32_t title = PROPID_TITLE, picture = PROPID_PICTURE, mtdid = PROPID_OBJECT_MTDID;
  typedef std::function<HRESULT(CTagkit&)> Call;
  const struct { const char* name; Call call; HRESULT closed, readOnly, v24, v23; } cases[] = {
      {"PutString", [=](CTagkit& t) { return t.PutString(title, {L"x"}); }, x, fail, un, 0},
      {"PutString of a picture", [=](CTagkit& t) { return t.PutString(picture, {L"x"}); }, x, 0, 0, un},
      {"PutString of identifier 0", [](CTagkit& t) { return t.PutString(0, {L"x"}); }, x, 0, 0, un},
      {"PutDate", [](CTagkit& t) { return PutDay(t, PROPID_RELEASE_DATE); }, x, fail, un, 0},
      {"PutDate of a title", [=](CTagkit& t) { return PutDay(t, title); }, un, un, un, un},
      {"PutBinary", [=](CTagkit& t) { return PutPicture(t, picture); }, x, fail, fail, 0},
      {"PutBinary of a music id", [](CTagkit& t) { return PutPicture(t, PROPID_MUSIC_ID); }, x, 0, 0, un},
      {"PutBinary of null", [=](CTagkit& t) { return t.PutBinary(picture, {nullptr}); }, x, 0, 0, null},
      {"PutMusicId", [](CTagkit& t) { return t.PutMusicId({Holding<CTagkit::CMusicId>(Bytes(64))}); }, x, fail, un,
       0},
      {"PutMusicId of null", [](CTagkit& t) { return t.PutMusicId({nullptr}); }, x, 0, 0, null},
      {"PutMusicId without data", [](CTagkit& t) { return t.PutMusicId({boost::make_shared<CTagkit::CMusicId>()}); },
       x, 0, 0, x},
      {"PutGeob", [=](CTagkit& t) { return PutObject(t, mtdid); }, x, fail, un, 0},
      {"PutGeob of a picture", [=](CTagkit& t) { return PutObject(t, picture); }, x, 0, 0, un},
      {"PutGeob of another kind", [](CTagkit& t) { return PutObject(t, 0x7777); }, x, 0, 0, un},
      {"PutGeob of null", [=](CTagkit& t) { return t.PutGeob(mtdid, {nullptr}); }, x, 0, 0, null},
  };
  const Bytes v24 =
      Concat({Id3v2Tag(4, 0, Frame23("TIT2", Enc0("v24"))), Audio(500), Id3v1("v1", "", "", "", "", 1, 0)});
  for (const auto& c : cases) {
    const struct { const char* state; HRESULT expected; const Bytes& file; std::int32_t mode; const wchar_t* title; }
        states[] = {{"closed", c.closed, kSample, 0, L"<error>"}, {"read only", c.readOnly, kSample, 1, L"first"},
                    {"ID3v2.4", c.v24, v24, 2, L"v1"}, {"ID3v2.3", c.v23, kSample, 2, L"first"}};
    for (const auto& s : states) {
      if (s.expected == 0) continue;
      SCOPED_TRACE(testing::Message() << c.name << ", " << s.state);
      WriteFile(a_, s.file);
      CTagkit tag;
      if (s.mode != 0) { ASSERT_EQ(S_OK, tag.Open(Widen(a_), s.mode)); }
      EXPECT_EQ(s.expected, c.call(tag));
      EXPECT_EQ(s.title, Get(tag));
      EXPECT_EQ(S_OK, tag.Close());
      EXPECT_EQ(s.file, ReadFile(a_));
    }
  }
}

#if defined(TLX_FAULT_INJECTION)
// A commit of several properties is one rewrite of the file (the first pass,
// without a fault). Then each file operation of the commit fails in turn: a
// failed Close leaves the object closed and the file either as it was or,
// when only the ID3v1 step failed, with the new ID3v2 tag and the old audio;
// a Close that absorbed the fault has written everything. A failed read of
// the trailer once made the commit append a second one behind it.
TEST_F(TagkitClassTest, CommitUnderFileFaults) {
  for (tlx_fault_op op : {TLX_FAULT_OP_COUNT, TLX_FAULT_WRITE, TLX_FAULT_OPEN, TLX_FAULT_CLOSE, TLX_FAULT_TRUNCATE,
                          TLX_FAULT_RENAME, TLX_FAULT_FSYNC, TLX_FAULT_READ, TLX_FAULT_SEEK}) {
    for (std::uint32_t nth = 1;; ++nth) {
      SCOPED_TRACE(testing::Message() << "op " << op << " call " << nth);
      WriteFile(a_, kSample);
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(Widen(a_), 2));
      for (std::int32_t id : {PROPID_ARTIST, PROPID_ALBUM, PROPID_TITLE}) ASSERT_EQ(S_OK, tag.PutString(id, {L"n"}));
      tlx_fault_reset();
      if (op != TLX_FAULT_OP_COUNT) tlx_fault_arm(op, nth);
      const HRESULT hr = tag.Close();
      const bool fired = tlx_fault_fired() != 0;
      if (op == TLX_FAULT_OP_COUNT) { EXPECT_EQ(1u, tlx_fault_calls(TLX_FAULT_RENAME)); }
      tlx_fault_reset();
      EXPECT_EQ(L"<error>", Get(tag));
      const Bytes after = ReadFile(a_);
      if (FAILED(hr)) { EXPECT_EQ(E_FAIL, hr); }
      if (SUCCEEDED(hr) || after != kSample) {
        EXPECT_EQ(std::vector<Bytes>{Enc1("n")}, FramesWithId(after, "TIT2"));
        EXPECT_EQ(AudioPart(kSample), AudioPart(after));
      }
      if (SUCCEEDED(hr)) { EXPECT_EQ("n", V1Text(after, 3)); }
      if (!fired) break;
    }
  }
}

// Each read and positioning of Open fails in turn, then a put and Close
// follow: Open refuses the file (E_FAIL), or the commit keeps every frame the
// file had. A failed read once counted as an absent property, and the commit
// rebuilt the file without it.
TEST_F(TagkitClassTest, ReadFaultsOfOpenLoseNothing) {
  const Bytes original = Concat({Id3v2Tag(3, 0, Concat({RichFrames23(3000), Bytes(500, 0)})), Audio(5000),
                                 Id3v1("title", "artist", "album", "2024", "", 3, 8)});
  auto kept = [](const Bytes& file) {
    auto frames = ReadFrames(file);
    frames.erase(std::remove_if(frames.begin(), frames.end(), [](const std::pair<std::string, Bytes>& f) {
                   return f.first == "TALB";
                 }), frames.end());
    std::sort(frames.begin(), frames.end());
    return frames;
  };
  for (tlx_fault_op op : {TLX_FAULT_READ, TLX_FAULT_SEEK}) {
    for (std::uint32_t nth = 1;; ++nth) {
      SCOPED_TRACE(testing::Message() << "op " << op << " call " << nth);
      WriteFile(a_, original);
      CTagkit tag;
      tlx_fault_reset();
      tlx_fault_arm(op, nth);
      const HRESULT opened = tag.Open(Widen(a_), 2);
      const bool fired = tlx_fault_fired() != 0;
      tlx_fault_reset();
      if (SUCCEEDED(opened)) { EXPECT_EQ(S_OK, tag.PutString(PROPID_ALBUM, {L"n"})); }
      const HRESULT closed = tag.Close();
      if (!fired) {
        EXPECT_EQ(S_OK, opened);
        break;
      }
      if (FAILED(opened)) {
        EXPECT_EQ(E_FAIL, opened);
        EXPECT_EQ(original, ReadFile(a_));
      } else if (SUCCEEDED(closed)) {
        EXPECT_TRUE(kept(original) == kept(ReadFile(a_))) << "a frame was lost";
      }
    }
  }
}

// A music application opens thousands of files: Open, every getter and Close
// of a well-filled file take a handful of file operations, not one per frame
// and property.
TEST_F(TagkitClassTest, ReadingEveryPropertyTakesFewFileOperations) {
  const std::uint32_t kMaxCalls = 10;
  const Bytes tag = Id3v2Tag(3, 0, Concat({RichFrames23(30000), Bytes(2000, 0)}));
  const Bytes trailer = Id3v1("title", "artist", "album", "2024", "comment", 3, 8);
  struct Case {
    const char* name;
    Bytes file;
  };
  const Case cases[] = {
      {"large tag and trailer", Concat({tag, Audio(166000), trailer})},
      {"small tag", Concat({Id3v2Tag(3, 0, RichFrames23(100)), Audio(5000), trailer})},
      {"ID3v2.2", Concat({Id3v2Tag(2, 0, Frame22("TT2", Enc0("two"))), Audio(900)})},
      {"trailer only", Concat({Audio(20000), trailer})},
      {"tiny file", Bytes(40, 7)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(a_, c.file);
    tlx_fault_reset();
    std::uint32_t calls = 0;
    {
      CTagkit tags;
      ASSERT_EQ(S_OK, tags.Open(Widen(a_), TAGKIT_OPEN_READ));
      const std::int32_t texts[] = {PROPID_TITLE,  PROPID_ARTIST,   PROPID_ALBUM,
                                    PROPID_GENRE,  PROPID_TRACK,    PROPID_COMPOSER,
                                    PROPID_ISRC,   PROPID_COPYRIGHT, PROPID_ARTIST_URL};
      for (std::int32_t id : texts) {
        Strings values;
        tags.GetString(id, values);
      }
      double date = 0;
      tags.GetDate(PROPID_RELEASE_DATE, date);
      CTagkit::PictureVector pictures;
      tags.GetBinary(PROPID_PICTURE, pictures);
      CTagkit::MusicIdVector ids;
      tags.GetMusicId(ids);
      CTagkit::GeobVector objects;
      tags.GetGeob(PROPID_OBJECT_MTDID, objects);
      tags.GetGeob(PROPID_OBJECT_QZVLX, objects);
      ASSERT_EQ(S_OK, tags.Close());
    }
    for (int op = 0; op < TLX_FAULT_OP_COUNT; ++op) {
      calls += tlx_fault_calls(static_cast<tlx_fault_op>(op));
    }
    EXPECT_EQ(0u, tlx_fault_calls(TLX_FAULT_WRITE));
    EXPECT_LE(calls, kMaxCalls);
    tlx_fault_reset();
  }
}
#endif

}  // namespace
