// Frames edited by identifier through CTagkit: the frames each edit leaves in
// the tag, the edits refused, and the property caches that follow.
#include <algorithm>
#include <functional>

#include "tag_inspect.h"
#include "tagkit.h"
#include "tlx_system.h"

namespace {

using namespace tagkit_test;
using Frames = std::vector<std::pair<std::string, Bytes>>;

// The frames of the file but the title, which every commit rewrites.
Frames Untitled(const Bytes& file) {
  Frames frames;
  for (const auto& frame : ReadFrames(file)) {
    if (frame.first != "TIT2" && frame.first != "TT2") frames.push_back(frame);
  }
  return frames;
}

// encoding 0: language, description, text
Bytes Described(const std::string& language, const std::string& description, const std::string& text) {
  return Concat({{0}, Text(language), Text(description), {0}, Text(text)});
}

class TagkitFramesEditTest : public SongFileTest {
 protected:
  void SetUp() override { tlx_set_thread_code_page(1252); }
};

TEST_F(TagkitFramesEditTest, EachEditLeavesExactlyItsFrames) {
  const Frames stored = {{"COMM", Described("eng", "", "a")}, {"COMM", Described("deu", "", "b")},
                         {"TXXX", Concat({Enc0("K"), Text("1")})}, {"TXXX", Concat({Enc0("L"), Text("2")})},
                         {"TPE2", Enc0("x")}};
  auto without = [&](std::initializer_list<std::size_t> gone, Frames added = {}) {
    Frames kept;
    for (std::size_t i = 0; i < stored.size(); ++i) {
      if (std::find(gone.begin(), gone.end(), i) == gone.end()) kept.push_back(stored[i]);
    }
    kept.insert(kept.end(), added.begin(), added.end());
    return kept;
  };
  const Bytes omega = {1, 0xFF, 0xFE, 'K', 0, 0, 0, 0xFF, 0xFE, 0xA9, 0x03};  // UTF-16 "K", "Ω"
  const struct {
    const char* name;
    std::function<HRESULT(CTagkit&)> edit;
    HRESULT expected;
    Frames frames;
  } rows[] = {
      {"comment replaced, other language kept", [](CTagkit& t) { return t.PutComment(L"eng", L"", L"new"); }, S_OK,
       without({0}, {{"COMM", Described("eng", "", "new")}})},
      {"empty comment removes it", [](CTagkit& t) { return t.PutComment(L"eng", L"", L""); }, S_OK, without({0})},
      {"user text beyond ISO-8859-1", [](CTagkit& t) { return t.PutUserText(L"K", L"\u03A9"); }, S_OK,
       without({2}, {{"TXXX", omega}})},
      {"C1 control characters go out as UTF-16", [](CTagkit& t) { return t.PutFrameText("TPE2", L"\u0080"); }, S_OK,
       without({4}, {{"TPE2", {1, 0xFF, 0xFE, 0x80, 0}}})},
      {"text frame in the ID3v2.2 form", [](CTagkit& t) { return t.PutFrameText("TBP", L"120"); }, S_OK,
       without({}, {{"TBPM", {0, '1', '2', '0'}}})},
      {"every frame of an identifier", [](CTagkit& t) { return t.RemoveFrames("TXXX"); }, S_OK, without({2, 3})},
      {"by description", [](CTagkit& t) { return t.RemoveFrames("TXXX", L"L"); }, S_OK, without({3})},
      {"description in any language", [](CTagkit& t) { return t.RemoveFrames("COMM", L""); }, S_OK,
       without({0, 1})},
      {"a description that matches none", [](CTagkit& t) { return t.RemoveFrames("TXXX", L"k"); }, S_FALSE,
       stored},
      {"no such frame", [](CTagkit& t) { return t.RemoveFrames("PRIV"); }, S_FALSE, stored},
      {"TXXX is no plain text frame", [](CTagkit& t) { return t.PutFrameText("TXXX", L"v"); }, E_INVALIDARG, stored},
      {"not a text frame", [](CTagkit& t) { return t.PutFrameText("WOAF", L"v"); }, E_INVALIDARG, stored},
      {"malformed identifier", [](CTagkit& t) { return t.PutFrameText("tpe2", L"v"); }, E_INVALIDARG, stored},
      {"release date frames", [](CTagkit& t) { return t.PutFrameText("TYER", L"2001"); }, E_TAG_UNSUPPORTED, stored},
      {"language of two letters", [](CTagkit& t) { return t.PutComment(L"en", L"", L"v"); }, E_INVALIDARG, stored},
      {"description of a frame without", [](CTagkit& t) { return t.RemoveFrames("TPE2", L"x"); }, E_INVALIDARG,
       stored},
  };
  Bytes tag;
  for (const auto& frame : stored) tag = Concat({tag, Frame23(frame.first, frame.second)});
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Write(TaggedFile(3, tag));
    CTagkit object;
    ASSERT_EQ(S_OK, object.Open(WPath(), TAGKIT_OPEN_WRITE));
    EXPECT_EQ(row.expected, row.edit(object));
    ASSERT_EQ(S_OK, object.Close());
    EXPECT_EQ(row.frames, Untitled(Read()));
  }
}

// ID3v2.4 writes UTF-8; ID3v2.2 names the frames with three characters and
// refuses what it cannot hold; a read-only frame is never replaced.
TEST_F(TagkitFramesEditTest, VersionsAndReadOnlyFrames) {
  const Bytes readOnly = Frame23("COMM", Described("eng", "", "locked"), 0x20);
  const struct {
    const char* name;
    Bytes file;
    std::function<HRESULT(CTagkit&)> edit;
    HRESULT expected;
    Frames frames;
  } rows[] = {
      {"ID3v2.4", Concat({Id3v2Tag(4, 0, Bytes(32, 0)), TagAudio()}),
       [](CTagkit& t) { return t.PutComment(L"eng", L"d", L"\u00E9"); }, S_OK,
       {{"COMM", {3, 'e', 'n', 'g', 'd', 0, 0xC3, 0xA9}}}},
      {"ID3v2.2", TaggedFile(2, Frame22("COM", Described("eng", "d", "old"))),
       [](CTagkit& t) {
         const HRESULT hr = t.PutComment(L"eng", L"d", L"new");
         return FAILED(hr) ? hr : t.PutFrameText("TPE2", L"band");
       },
       S_OK, {{"COM", Described("eng", "d", "new")}, {"TP2", {0, 'b', 'a', 'n', 'd'}}}},
      {"ID3v2.2 has no mood frame", TaggedFile(2, Bytes()), [](CTagkit& t) { return t.PutFrameText("TMOO", L"x"); },
       E_TAG_UNSUPPORTED, {}},
      {"read-only comment replaced", TaggedFile(3, readOnly),
       [](CTagkit& t) { return t.PutComment(L"eng", L"", L"n"); }, E_TAG_READ_ONLY,
       {{"COMM", Described("eng", "", "locked")}}},
      {"read-only comment removed", TaggedFile(3, readOnly), [](CTagkit& t) { return t.RemoveFrames("COMM"); },
       E_TAG_READ_ONLY, {{"COMM", Described("eng", "", "locked")}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.file);
    CTagkit object;
    ASSERT_EQ(S_OK, object.Open(WPath(), TAGKIT_OPEN_WRITE | TAGKIT_OPEN_V24));
    EXPECT_EQ(row.expected, row.edit(object));
    ASSERT_EQ(S_OK, object.Close());
    EXPECT_EQ(row.frames, Untitled(Read()));
  }
  CTagkit readOnlyObject;
  ASSERT_EQ(S_OK, readOnlyObject.Open(WPath(), TAGKIT_OPEN_READ));
  EXPECT_EQ(E_FAIL, readOnlyObject.PutUserText(L"K", L"v"));
}

// Frames that back a property keep its value in step, also after other puts
// moved the frames of the transaction around.
TEST_F(TagkitFramesEditTest, PropertiesFollowTheirFrames) {
  auto apic = [](std::uint8_t encoding, const std::string& description, std::uint8_t byte) {
    return Frame23("APIC", Concat({{encoding}, Text("image/png"), {0, 3}, Text(description), {0}, {0x89, byte}}));
  };
  auto picture = [](CTagkit& tag) {
    CTagkit::PictureVector pictures;
    return tag.GetBinary(PROPID_PICTURE, pictures) == S_OK ? PictureData(pictures[0]) : Bytes();
  };
  Write(TaggedFile(3, Concat({Frame23("TIT2", Enc0("old")), Frame23("TPE1", Enc0("artist"))}),
                   Id3v1("old", "artist", "", "", "", 1, 0)));
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), TAGKIT_OPEN_WRITE));
    ASSERT_EQ(S_OK, tag.PutFrameText("TIT2", L"new"));
    ASSERT_EQ(S_OK, tag.RemoveFrames("TPE1"));
    Strings values;
    EXPECT_EQ(S_OK, tag.GetString(PROPID_TITLE, values));
    EXPECT_EQ(Strings{L"new"}, values);
    EXPECT_EQ(E_TAG_NO_VALUE, tag.GetString(PROPID_ARTIST, values));
    ASSERT_EQ(S_OK, tag.Close());
  }
  const Bytes file = Read();
  EXPECT_EQ("new", V1Text(file, 3));
  EXPECT_EQ("", V1Text(file, 33));
  EXPECT_TRUE(FramesWithId(file, "TPE1").empty());

  // A first picture that cannot be read (UTF-8 without TAGKIT_OPEN_V24) is
  // kept, and the new one goes before it: the stored frames behind are still
  // told apart by description.
  const Bytes unreadable = apic(3, "front", '1');
  Write(TaggedFile(3, Concat({unreadable, apic(0, "back", '2'), apic(0, "side", '3')})));
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), TAGKIT_OPEN_WRITE));
    ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, {Holding<CTagkit::CPicture>({0x89, '4'})}));
    ASSERT_EQ(S_OK, tag.RemoveFrames("APIC", L"side"));
    EXPECT_EQ((Bytes{0x89, '4'}), picture(tag));
    ASSERT_EQ(S_OK, tag.Close());
  }
  auto data = [](const Bytes& frame) { return Bytes(frame.begin() + 10, frame.end()); };
  EXPECT_EQ((std::vector<Bytes>{Bytes{0, 0, 3, 0, 0x89, '4'}, data(unreadable),
                                data(apic(0, "back", '2'))}),
            FramesWithId(Read(), "APIC"));
  // Removing the first picture hands the property to the next one.
  CTagkit tag;
  ASSERT_EQ(S_OK, tag.Open(WPath(), TAGKIT_OPEN_WRITE));
  ASSERT_EQ(S_OK, tag.RemoveFrames("APIC", L""));
  EXPECT_EQ(Bytes(), picture(tag));  // the unreadable one is first now
  ASSERT_EQ(S_OK, tag.RemoveFrames("APIC", L"front"));
  EXPECT_EQ((Bytes{0x89, '2'}), picture(tag));
  ASSERT_EQ(S_OK, tag.RemoveFrames("APIC"));
  EXPECT_EQ(Bytes(), picture(tag));
}

}  // namespace
