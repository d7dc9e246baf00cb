// CTagkit's life: Open and its result codes, Close, reopening, copies, and
// the guarantee that a file changes only through a successful commit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tag_inspect.h"
#include "tagkit.h"
#include "test_support.h"
#include "tlx_system.h"

namespace {

using tagkit_test::Audio;
using tagkit_test::Bytes;
using tagkit_test::Concat;
using tagkit_test::Frame23;
using tagkit_test::Id3v1;
using tagkit_test::Id3v2Tag;
using tagkit_test::ReadFile;
using tagkit_test::Text;
using tagkit_test::Widen;
using Strings = std::vector<std::wstring>;

Bytes Enc0(const std::string& text) { return Concat({{0}, Text(text), {0}}); }

Bytes SampleFile(const std::string& title) {
  return Concat({Id3v2Tag(3, 0, Concat({Frame23("TIT2", Enc0(title)), Frame23("TPE1", Enc0("artist"))})),
                 Audio(1200), Id3v1(title, "artist", "", "", "", 1, 0)});
}

class ClassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = dir_.File("a.mp3");
    b_ = dir_.File("b.mp3");
    tagkit_test::WriteFile(a_, SampleFile("first"));
    tagkit_test::WriteFile(b_, Concat({Audio(300), Id3v1("second", "", "", "", "", 2, 148)}));
  }
  tagkit_test::TempDir dir_;
  std::string a_, b_;
};

TEST_F(ClassTest, OpenResultCodes) {
  const std::string dirPath = dir_.File("sub");
  ASSERT_EQ(0, mkdir(dirPath.c_str(), 0700));
  struct Case {
    const char* name;
    std::wstring path;
    std::int32_t mode;
    HRESULT expected;
  };
  const Case cases[] = {
      {"mode 0", Widen(a_), 0, E_INVALIDARG},
      {"mode 3", Widen(a_), 3, E_INVALIDARG},
      {"missing file", dir_.WFile("missing.mp3"), 1, E_TAG_FILE_NOT_FOUND},
      {"missing file for writing", dir_.WFile("missing.mp3"), 2, E_TAG_FILE_NOT_FOUND},
      {"empty path", L"", 1, E_TAG_FILE_NOT_FOUND},
      {"directory", Widen(dirPath), 2, E_TAG_FILE_NOT_FOUND},
      {"read only", Widen(a_), 1, S_OK},
      {"read and write", Widen(a_), 2, S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTagkit tag;
    EXPECT_EQ(c.expected, tag.Open(c.path, c.mode));
    Strings out;
    EXPECT_EQ(c.expected == S_OK ? S_OK : E_UNEXPECTED, tag.GetString(PROPID_TITLE, out));
  }
}

TEST_F(ClassTest, OpenOnAnOpenObjectIsRefusedBeforeTheMode) {
  CTagkit tag;
  ASSERT_EQ(S_OK, tag.Open(Widen(a_), 1));
  EXPECT_EQ(E_TAG_CANNOT_OPEN, tag.Open(Widen(b_), 1));
  EXPECT_EQ(E_TAG_CANNOT_OPEN, tag.Open(Widen(b_), 0));
  Strings out;
  ASSERT_EQ(S_OK, tag.GetString(PROPID_TITLE, out));
  EXPECT_EQ(Strings{L"first"}, out);
}

TEST_F(ClassTest, SharingBetweenObjects) {
  CTagkit writer, other;
  ASSERT_EQ(S_OK, writer.Open(Widen(a_), 2));
  EXPECT_EQ(E_TAG_CANNOT_OPEN, other.Open(Widen(a_), 2));
  EXPECT_EQ(E_TAG_CANNOT_OPEN, other.Open(Widen(a_), 1));
  ASSERT_EQ(S_OK, writer.Close());
  CTagkit reader1, reader2;
  ASSERT_EQ(S_OK, reader1.Open(Widen(a_), 1));
  EXPECT_EQ(S_OK, reader2.Open(Widen(a_), 1));
  EXPECT_EQ(E_TAG_CANNOT_OPEN, other.Open(Widen(a_), 2));
}

TEST_F(ClassTest, UnreadableFileCannotBeOpened) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  ASSERT_EQ(0, chmod(a_.c_str(), 0));
  CTagkit tag;
  EXPECT_EQ(E_TAG_CANNOT_OPEN, tag.Open(Widen(a_), 1));
  chmod(a_.c_str(), 0600);
}

TEST_F(ClassTest, ReopenForgetsTheFirstFile) {
  CTagkit tag;
  Strings out;
  ASSERT_EQ(S_OK, tag.Open(Widen(a_), 1));
  ASSERT_EQ(S_OK, tag.GetString(PROPID_ARTIST, out));
  ASSERT_EQ(S_OK, tag.Close());
  EXPECT_EQ(E_UNEXPECTED, tag.GetString(PROPID_TITLE, out));
  EXPECT_EQ(S_OK, tag.Close());  // closing twice is harmless
  ASSERT_EQ(S_OK, tag.Open(Widen(b_), 2));
  ASSERT_EQ(S_OK, tag.GetString(PROPID_TITLE, out));
  EXPECT_EQ(Strings{L"second"}, out);
  EXPECT_EQ(E_TAG_NO_VALUE, tag.GetString(PROPID_ARTIST, out));
  EXPECT_EQ(L"second", out.at(0));  // a failed get leaves the vector alone
}

TEST_F(ClassTest, FileIsUntouchedWithoutACommit) {
  const Bytes before = ReadFile(a_);
  {
    CTagkit tag;  // open for writing, nothing changed
    ASSERT_EQ(S_OK, tag.Open(Widen(a_), 2));
    EXPECT_EQ(S_OK, tag.Close());
  }
  EXPECT_EQ(before, ReadFile(a_));
  {
    CTagkit tag;  // destroyed while editing: changes are dropped
    ASSERT_EQ(S_OK, tag.Open(Widen(a_), 2));
    ASSERT_EQ(S_OK, tag.PutString(PROPID_TITLE, {L"dropped"}));
    ASSERT_EQ(S_OK, tag.PutString(PROPID_ARTIST, {}));
  }
  EXPECT_EQ(before, ReadFile(a_));
  CTagkit again;  // and the destroyed object released the file
  EXPECT_EQ(S_OK, again.Open(Widen(a_), 2));
}

TEST_F(ClassTest, CopyOfAnOpenObjectIsClosedAndSharesNothing) {
  CTagkit source;
  ASSERT_EQ(S_OK, source.Open(Widen(a_), 2));
  ASSERT_EQ(S_OK, source.PutString(PROPID_ALBUM, {L"kept"}));
  Strings out;
  {
    CTagkit copy(source);
    EXPECT_EQ(E_UNEXPECTED, copy.GetString(PROPID_TITLE, out));
    EXPECT_EQ(E_UNEXPECTED, copy.PutString(PROPID_TITLE, {L"x"}));
    double date = 0;
    EXPECT_EQ(E_TAG_NO_VALUE, copy.GetDate(PROPID_RELEASE_DATE, date));
    EXPECT_EQ(S_OK, copy.Close());  // neither commits nor closes the source's file
    CTagkit assigned;
    assigned = source;
    EXPECT_EQ(E_UNEXPECTED, assigned.GetString(PROPID_TITLE, out));
    // The copy can open a file of its own.
    EXPECT_EQ(S_OK, copy.Open(Widen(b_), 1));
  }
  ASSERT_EQ(S_OK, source.GetString(PROPID_ALBUM, out));
  EXPECT_EQ(Strings{L"kept"}, out);
  ASSERT_EQ(S_OK, source.Close());
  CTagkit reader;
  ASSERT_EQ(S_OK, reader.Open(Widen(a_), 1));
  ASSERT_EQ(S_OK, reader.GetString(PROPID_ALBUM, out));
  EXPECT_EQ(Strings{L"kept"}, out);
}

TEST_F(ClassTest, AssignmentReleasesTheTargetsFileWithoutCommitting) {
  const Bytes before = ReadFile(a_);
  CTagkit target;
  ASSERT_EQ(S_OK, target.Open(Widen(a_), 2));
  ASSERT_EQ(S_OK, target.PutString(PROPID_TITLE, {L"dropped"}));
  target = CTagkit();
  Strings out;
  EXPECT_EQ(E_UNEXPECTED, target.GetString(PROPID_TITLE, out));
  EXPECT_EQ(before, ReadFile(a_));
  CTagkit other;
  EXPECT_EQ(S_OK, other.Open(Widen(a_), 2));  // the lock went with the context

  CTagkit& self = other;
  other = self;  // self-assignment keeps the object as it was
  EXPECT_EQ(S_OK, other.GetString(PROPID_TITLE, out));
  EXPECT_EQ(Strings{L"first"}, out);
}

TEST_F(ClassTest, CopiesOfClosedObjectsAreIndependent) {
  CTagkit a;
  CTagkit b(a);
  ASSERT_EQ(S_OK, a.Open(Widen(a_), 1));
  Strings out;
  EXPECT_EQ(E_UNEXPECTED, b.GetString(PROPID_TITLE, out));
  ASSERT_EQ(S_OK, b.Open(Widen(b_), 1));
  ASSERT_EQ(S_OK, b.GetString(PROPID_TITLE, out));
  EXPECT_EQ(Strings{L"second"}, out);
  ASSERT_EQ(S_OK, a.GetString(PROPID_TITLE, out));
  EXPECT_EQ(Strings{L"first"}, out);
}

// Such a tag is read as absent; writing would leave it behind a new one, so
// the file is not edited.
TEST_F(ClassTest, Id3v24FileIsReadButNotEdited) {
  const Bytes before = Concat({Id3v2Tag(4, 0, Frame23("TIT2", Enc0("v24"))), Audio(500),
                               Id3v1("v1 title", "", "", "", "", 1, 148)});
  tagkit_test::WriteFile(a_, before);
  CTagkit tag;
  ASSERT_EQ(S_OK, tag.Open(Widen(a_), 2));
  Strings out;
  ASSERT_EQ(S_OK, tag.GetString(PROPID_TITLE, out));
  EXPECT_EQ(Strings{L"v1 title"}, out);
  EXPECT_EQ(E_TAG_UNSUPPORTED, tag.PutString(PROPID_TITLE, {L"x"}));
  EXPECT_EQ(S_OK, tag.Close());
  EXPECT_EQ(before, ReadFile(a_));
}

#if defined(TLX_FAULT_INJECTION)
// Each file operation of the commit fails in turn. A failed Close leaves
// the object closed and the file either as it was or, when only the ID3v1
// step failed, with the new ID3v2 tag and the old audio; a Close that
// absorbed the fault has written everything.
void CheckCommitUnderFaults(const std::string& path, std::initializer_list<tlx_fault_op> ops) {
  const Bytes original = SampleFile("first");
  const Bytes audio = tagkit_test::AudioPart(original);
  const Bytes newTitle = Concat({{1, 0xFF, 0xFE}, Text("n"), {0, 0, 0}});
  for (tlx_fault_op op : ops) {
    for (std::uint32_t nth = 1;; ++nth) {
      SCOPED_TRACE(testing::Message() << "op " << op << " call " << nth);
      tagkit_test::WriteFile(path, original);
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(Widen(path), 2));
      ASSERT_EQ(S_OK, tag.PutString(PROPID_TITLE, {L"n"}));
      tlx_fault_reset();
      tlx_fault_arm(op, nth);
      const HRESULT hr = tag.Close();
      const bool fired = tlx_fault_fired() != 0;
      tlx_fault_reset();
      Strings out;
      EXPECT_EQ(E_UNEXPECTED, tag.GetString(PROPID_TITLE, out));
      const Bytes after = ReadFile(path);
      if (FAILED(hr)) {
        EXPECT_EQ(E_FAIL, hr);
        if (after != original) {
          EXPECT_EQ(std::vector<Bytes>{newTitle}, tagkit_test::FramesWithId(after, "TIT2"));
          EXPECT_EQ(audio, tagkit_test::AudioPart(after));
        }
      } else {
        EXPECT_EQ(std::vector<Bytes>{newTitle}, tagkit_test::FramesWithId(after, "TIT2"));
        EXPECT_EQ(audio, tagkit_test::AudioPart(after));
        EXPECT_EQ("n", tagkit_test::V1Text(tagkit_test::Id3v1Part(after), 3));
      }
      if (!fired) break;
    }
  }
}

TEST_F(ClassTest, CommitUnderFileFaults) {
  CheckCommitUnderFaults(a_, {TLX_FAULT_WRITE, TLX_FAULT_OPEN, TLX_FAULT_CLOSE, TLX_FAULT_TRUNCATE,
                              TLX_FAULT_RENAME, TLX_FAULT_FSYNC});
}

// Known fault: the ID3v1 setters take a failed read of the trailer for a
// missing trailer, so a commit that meets one appends a second trailer (the
// first then counts as audio) and succeeds.
TEST_F(ClassTest, DISABLED_CommitUnderReadAndSeekFaults) {
  CheckCommitUnderFaults(a_, {TLX_FAULT_READ, TLX_FAULT_SEEK});
}
#endif

}  // namespace
