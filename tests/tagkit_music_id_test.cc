#include "tagkit.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tag_frames.h"
#include "test_support.h"

namespace {

using namespace tagkit_test;
typedef boost::shared_ptr<CTagkit::CMusicId> MusicIdPtr;

Bytes Pattern(std::size_t size, unsigned char start) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(start + i);
  return out;
}

Bytes File23(const Bytes& frames) { return TaggedFile(3, frames); }
Bytes File22(const Bytes& frames) { return TaggedFile(2, frames); }
Bytes Ufid(const std::string& owner, const Bytes& data) { return Concat({Text(owner), {0}, data}); }

// Learns the service's owner identifier the way a caller does: a value
// written with an empty owner carries it.
std::string ServiceOwner(const TempDir& dir) {
  const std::string path = dir.File("owner.mp3");
  WriteFile(path, File23({}));
  CTagkit tag;
  EXPECT_EQ(S_OK, tag.Open(dir.WFile("owner.mp3"), 2));
  MusicIdPtr id(new CTagkit::CMusicId());
  const Bytes data = Pattern(64, 0);
  EXPECT_EQ(S_OK, id->SetData(data.data(), 64));
  EXPECT_EQ(S_OK, tag.PutMusicId({id}));
  EXPECT_EQ(S_OK, tag.Close());
  std::string owner;
  id->GetOwnerId(owner);
  return owner;
}

Bytes IdData(const MusicIdPtr& id) {
  unsigned char* buffer = nullptr;
  std::int32_t size = 0;
  EXPECT_EQ(S_OK, id->GetData(&buffer, size));
  Bytes out(buffer, buffer + size);
  CoTaskMemFree(buffer);
  return out;
}

class TagkitMusicIdTest : public SongFileTest {
 protected:
  void SetUp() override { owner_ = ServiceOwner(dir_); }

  std::string owner_;
};

TEST_F(TagkitMusicIdTest, OwnerIdentifierIsAFixedAddress) {
  EXPECT_EQ(29u, owner_.size());
  EXPECT_EQ(0u, owner_.find("http://"));
  EXPECT_EQ(owner_, ServiceOwner(dir_));
  EXPECT_EQ(std::vector<Bytes>{Ufid(owner_, Pattern(64, 0))},
            FramesWithId(ReadFile(dir_.File("owner.mp3")), "UFID"));
}

TEST_F(TagkitMusicIdTest, ReadsOnlyTheServicesFrame) {
  const Bytes ours = Pattern(64, 0x10);
  struct Row {
    const char* name;
    Bytes file;
    bool present;
    bool foreign;
  } rows[] = {
      {"ours", File23(Frame23("UFID", Ufid(owner_, ours))), true, false},
      {"ours first, another behind", File23(Concat({Frame23("UFID", Ufid(owner_, ours)),
                                                    Frame23("UFID", Ufid("other", Pattern(64, 1)))})),
       true, false},
      {"ID3v2.2", File22(Frame22("UFI", Ufid(owner_, ours))), true, false},
      {"another owner", File23(Frame23("UFID", Ufid("http://elsewhere.example/", Pattern(64, 1)))), false,
       true},
      {"another owner first", File23(Concat({Frame23("UFID", Ufid("other", Pattern(64, 1))),
                                             Frame23("UFID", Ufid(owner_, ours))})),
       false, true},
      {"63 bytes", File23(Frame23("UFID", Ufid(owner_, Pattern(63, 0)))), false, false},
      {"empty frame", File23(Frame23("UFID", {})), false, false},
      {"no frame", File23({}), false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.file);
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
    std::vector<MusicIdPtr> ids;
    if (row.present) {
      ASSERT_EQ(S_OK, tag.GetMusicId(ids));
      ASSERT_EQ(1u, ids.size());
      EXPECT_EQ(ours, IdData(ids[0]));
    } else {
      EXPECT_EQ(E_TAG_NO_VALUE, tag.GetMusicId(ids));
    }
    // Another owner's frame blocks writing, even a deletion; nothing else does.
    HRESULT expected = row.foreign ? E_TAG_FOREIGN_MUSIC_ID : S_OK;
    EXPECT_EQ(expected, tag.PutMusicId(std::vector<MusicIdPtr>()));
    ASSERT_EQ(S_OK, tag.Close());
    if (row.foreign) {
      EXPECT_EQ(row.file, Read());
    }
  }
}

TEST_F(TagkitMusicIdTest, ReplacingRemovesEveryIdentifierFrame) {
  Write(File23(Concat({Frame23("UFID", Ufid(owner_, Pattern(64, 1))),
                       Frame23("UFID", Ufid("other", Pattern(64, 2)))})));
  MusicIdPtr id(new CTagkit::CMusicId());
  const Bytes data = Pattern(64, 0x80);
  ASSERT_EQ(S_OK, id->SetData(data.data(), 64));
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
    ASSERT_EQ(S_OK, tag.PutMusicId({id, MusicIdPtr()}));
    std::vector<MusicIdPtr> ids;
    ASSERT_EQ(S_OK, tag.GetMusicId(ids));
    EXPECT_EQ(id, ids[0]);
    // Twice before the commit still gives one frame.
    ASSERT_EQ(S_OK, tag.PutMusicId({id}));
    ASSERT_EQ(S_OK, tag.Close());
  }
  std::string owner;
  id->GetOwnerId(owner);
  EXPECT_EQ(owner_, owner);
  const Bytes file = Read();
  EXPECT_EQ(std::vector<Bytes>{Ufid(owner_, data)}, FramesWithId(file, "UFID"));
  EXPECT_EQ(TagAudio(), AudioPart(file));
}

TEST_F(TagkitMusicIdTest, UnreadableFrameStaysBesideTheNewOne) {
  const Bytes unreadable = Ufid("other", Pattern(20, 3));
  Write(File22(Frame22("UFI", unreadable)));
  MusicIdPtr id(new CTagkit::CMusicId());
  const Bytes data = Pattern(64, 0x22);
  ASSERT_EQ(S_OK, id->SetData(data.data(), 64));
  ASSERT_EQ(S_OK, id->SetOwnerId(owner_));
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
    ASSERT_EQ(S_OK, tag.PutMusicId({id}));
    ASSERT_EQ(S_OK, tag.Close());
  }
  EXPECT_EQ((std::vector<Bytes>{Ufid(owner_, data), unreadable}), FramesWithId(Read(), "UFI"));
  CTagkit tag;
  ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
  std::vector<MusicIdPtr> ids;
  ASSERT_EQ(S_OK, tag.GetMusicId(ids));
  EXPECT_EQ(data, IdData(ids[0]));
}

TEST_F(TagkitMusicIdTest, RefusedCalls) {
  const Bytes original = File23(Frame23("UFID", Ufid(owner_, Pattern(64, 5))));
  Write(original);
  CTagkit tag;
  std::vector<MusicIdPtr> ids;
  EXPECT_EQ(E_UNEXPECTED, tag.GetMusicId(ids));
  EXPECT_EQ(E_UNEXPECTED, tag.PutMusicId(ids));
  ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
  EXPECT_EQ(E_POINTER, tag.PutMusicId({MusicIdPtr()}));
  // Without its 64 bytes an identifier cannot be written.
  EXPECT_EQ(E_UNEXPECTED, tag.PutMusicId({MusicIdPtr(new CTagkit::CMusicId())}));
  ASSERT_EQ(S_OK, tag.GetMusicId(ids));
  EXPECT_EQ(Pattern(64, 5), IdData(ids[0]));
  EXPECT_EQ(S_OK, tag.Close());
  EXPECT_EQ(original, Read());
}

}  // namespace
