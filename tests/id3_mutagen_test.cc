// Cross-check with an independent reader: every corpus file that holds an
// ID3v2.2 or ID3v2.3 tag is rewritten (once unchanged, once with a frame
// added) and read back by python3-mutagen, which must see the same frames
// and the same audio bytes behind the tag.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "engine_file.h"
#include "tag_frames.h"
#include "tag_inspect.h"

namespace tagkit_test {
namespace {

// One line per file: path, a tab, then "error" or the version, a digest of
// the bytes behind the tag and the sorted frame representations.
const char kReader[] = R"PY(
import hashlib, sys
from mutagen.id3 import ID3
for path in sys.argv[1:]:
    try:
        tag = ID3(path)
        with open(path, 'rb') as f:
            audio = f.read()[tag.size:]
        print(path + '\tv%d.%d ' % tag.version[:2] + hashlib.sha256(audio).hexdigest() + ' ' +
              repr(sorted(repr(f) for f in tag.values())))
    except Exception as e:
        print(path + '\terror ' + type(e).__name__)
)PY";

std::string Python() {
  for (const char* candidate : {"/usr/bin/python3", "python3"}) {
    if (system((std::string(candidate) + " -c 'import mutagen' >/dev/null 2>&1").c_str()) == 0) return candidate;
  }
  return "";
}

std::map<std::string, std::string> ReadWithMutagen(const std::string& command) {
  std::string all;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) all.append(buffer, n);
    pclose(pipe);
  }
  std::map<std::string, std::string> out;
  std::istringstream lines(all);
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) out[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return out;
}

// One editing transaction; the added frame, if any, is a private frame
// (ID3v2.2 has none: a user text frame stands in for it).
int32_t Rewrite(const std::string& path, uint32_t added) {
  tlx_id3_v2_header header;
  {
    Context ctx(path, TLX_ID3_MODE_READ);
    const int32_t rc = ctx.open_rc() ? ctx.open_rc() : tlx_id3_v2_get_header(ctx.get(), &header);
    if (rc != 0) return rc;
  }
  return EditFile(path, [&](tlx_id3_context* ctx) {
    if (header.has_ext_header) {
      EXPECT_EQ(0, tlx_id3_v2_remove_extended_header(ctx));
    }
    if (added == 0) return;
    const bool v22 = header.version == TLX_ID3_V22;
    const Bytes data = v22 ? Concat({{0}, Text("tagkit-test"), {0}, Bytes(added, 'v')})
                           : Concat({Text("tagkit-test"), {0}, Audio(added)});
    const tlx_id3_v2_frame_header record = FrameRecord(v22 ? "TXX" : "PRIV", uint32_t(data.size()));
    EXPECT_EQ(0, tlx_id3_v2_add_frame(ctx, &record, data.data()));
  });
}

TEST(Id3Mutagen, RewrittenCorpusFilesReadTheSame) {
  if (CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  const std::string python = Python();
  if (python.empty()) GTEST_SKIP() << "python3 with mutagen not found";
  TempDir dir;
  MakeDir(dir.File("tmp"));
  ScopedTmpdir tmpdir(dir.File("tmp"));
  WriteFile(dir.File("reader.py"), Text(kReader));

  std::vector<std::string> originals, same, added;
  std::string command = python + " " + dir.File("reader.py");
  for (const char* sub : {"mutagen", "taglib"}) {
    for (const std::string& name : ListDir(CorpusDir() + "/" + sub)) {
      const std::string source = CorpusDir() + "/" + sub + "/" + name;
      const Bytes bytes = ReadFile(source);
      if (bytes.size() < 10 || Bytes(bytes.begin(), bytes.begin() + 3) != Text("ID3") ||
          (bytes[3] != 2 && bytes[3] != 3)) {
        continue;
      }
      SCOPED_TRACE(source);
      originals.push_back(source);
      same.push_back(dir.File("same-" + std::string(sub) + "-" + name));
      added.push_back(dir.File("added-" + std::string(sub) + "-" + name));
      WriteFile(same.back(), bytes);
      WriteFile(added.back(), bytes);
      const int32_t rc = Rewrite(same.back(), 0);
      EXPECT_EQ(rc, Rewrite(added.back(), 300));
      command += " '" + source + "'";
      if (rc != 0) {
        // A tag the engine cannot list (a frame running past the end of the
        // file) is refused, and the file is left as it was.
        EXPECT_EQ(bytes, ReadFile(same.back()));
        EXPECT_EQ(bytes, ReadFile(added.back()));
        continue;
      }
      command += " '" + same.back() + "' '" + added.back() + "'";
    }
  }
  EXPECT_TRUE(ListDir(dir.File("tmp")).empty());
  ASSERT_GE(originals.size(), 10u);

  std::map<std::string, std::string> seen = ReadWithMutagen(command);
  int rewritten = 0, compared = 0;
  for (size_t i = 0; i < originals.size(); ++i) {
    if (seen.count(same[i]) == 0) continue;  // refused above
    ++rewritten;
    SCOPED_TRACE(originals[i]);
    const std::string& before = seen[originals[i]];
    ASSERT_FALSE(before.empty());
    if (before.rfind("error", 0) == 0) continue;  // mutagen cannot read the original
    ++compared;
    EXPECT_EQ(before, seen[same[i]]);
    // The added frame is the only difference.
    const std::string& with_frame = seen[added[i]];
    EXPECT_EQ(before.substr(0, before.find('[')), with_frame.substr(0, with_frame.find('[')));
    EXPECT_NE(std::string::npos, with_frame.find("tagkit-test"));
    EXPECT_GT(with_frame.size(), before.size());
  }
  EXPECT_GE(rewritten, 10);
  EXPECT_GE(compared, 8);
  RecordProperty("compared", compared);
}

// An ID3v2.4 tag as mutagen writes it (sync-safe sizes, no flags).
const char kWrite24[] = R"PY(
import sys
from mutagen.id3 import ID3, TIT2, TPE1, TALB, TXXX, COMM, APIC, PRIV, TDRC
with open(sys.argv[1], 'wb') as f:
    f.write(b'\xff\xfb\x90\x00' * 700)
tag = ID3()
tag.add(TIT2(encoding=3, text=['Caf\u00e9 at night']))
tag.add(TPE1(encoding=1, text=['The Sample Quartet']))
tag.add(TALB(encoding=0, text=['Sessions']))
tag.add(TXXX(encoding=3, desc='mood', text=['calm']))
tag.add(COMM(encoding=1, lang='eng', desc='', text=['a comment']))
tag.add(APIC(encoding=0, mime='image/png', type=3, desc='', data=bytes(range(256)) * 20))
tag.add(PRIV(owner='tagkit', data=b'\xff\x00\xe0'))
tag.add(TDRC(encoding=3, text=['2024-05-01']))
tag.save(sys.argv[1], v2_version=4)
)PY";

// The version, then "ID hex-of-data" for every frame, sorted.
const char kRead24[] = R"PY(
import sys
from mutagen.id3 import ID3
tag = ID3(sys.argv[1], translate=False)
print('v%d.%d' % tag.version[:2])
for line in sorted(frame.FrameID + ' ' + frame._writeData().hex() for frame in tag.values()):
    print(line)
)PY";

// The same lines as the engine reads the file.
std::vector<std::string> EngineLines(const std::string& path) {
  Context ctx(path, TLX_ID3_MODE_READ);
  EXPECT_EQ(0, tlx_id3_set_options(ctx.get(), TLX_ID3_OPTION_V24));
  tlx_id3_v2_header header;
  EXPECT_EQ(0, tlx_id3_v2_get_header(ctx.get(), &header));
  std::vector<std::string> lines;
  uint32_t total = 0;
  EXPECT_EQ(0, tlx_id3_v2_get_frame_total_num(ctx.get(), &total));
  std::map<uint32_t, uint32_t> seen;
  for (uint32_t i = 0; i < total; ++i) {
    tlx_id3_v2_frame_header f;
    EXPECT_EQ(0, tlx_id3_v2_get_frame_header_by_index(ctx.get(), i, &f));
    Bytes data(f.size);
    uint32_t size = f.size;
    EXPECT_EQ(0, tlx_id3_v2_get_frame_data(ctx.get(), f.id, seen[f.id]++, &size, data.data()));
    lines.push_back(std::string{char(f.id >> 24), char(f.id >> 16), char(f.id >> 8), char(f.id)} + " " + Hex(data));
  }
  std::sort(lines.begin(), lines.end());
  lines.insert(lines.begin(), header.version == TLX_ID3_V24 ? "v2.4" : "other");
  return lines;
}

// mutagen writes an ID3v2.4 tag; the engine reads what mutagen reads, and
// after an engine edit mutagen reads the result: still ID3v2.4, the edits
// made, and every untouched frame byte-identical to the original's.
TEST(Id3Mutagen, V24WrittenByMutagenReadAndEdited) {
  const std::string python = MutagenPython();
  if (python.empty()) GTEST_SKIP() << "python3 with mutagen not found";
  TempDir dir;
  MakeDir(dir.File("tmp"));
  ScopedTmpdir tmpdir(dir.File("tmp"));
  const std::string path = dir.File("v24.mp3");
  ASSERT_TRUE(RunPython(python, kWrite24, path).empty());
  const Bytes original = ReadFile(path);
  ASSERT_EQ(4, original[3]);
  EXPECT_EQ(RunPython(python, kRead24, path), EngineLines(path));

  const Bytes title = Concat({{0}, Text("Retitled"), {0}});
  const Bytes added = Concat({Text("tagkit-test"), {0}, Audio(300)});
  Context ctx(path);
  ASSERT_EQ(0, tlx_id3_set_options(ctx.get(), TLX_ID3_OPTION_V24));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
  EXPECT_EQ(0, tlx_id3_v2_remove_frame(ctx.get(), Id("TALB"), 0));
  tlx_id3_v2_frame_header record = FrameRecord("TIT2", uint32_t(title.size()));
  EXPECT_EQ(0, tlx_id3_v2_update_frame(ctx.get(), &record, title.data(), 0));
  record = FrameRecord("PRIV", uint32_t(added.size()));
  EXPECT_EQ(0, tlx_id3_v2_add_frame(ctx.get(), &record, added.data()));
  ASSERT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
  ASSERT_EQ(0, ctx.Close());

  const Bytes edited = ReadFile(path);
  const std::vector<std::string> seen = RunPython(python, kRead24, path);
  EXPECT_EQ(seen, EngineLines(path));
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ("v2.4", seen[0]);
  EXPECT_NE(std::string::npos, Hex(edited).find(Hex(Concat({Text("TIT2"), SyncSafe(uint32_t(title.size())), {0, 0}, title}))));
  EXPECT_NE(std::string::npos, Hex(edited).find(Hex(added)));
  EXPECT_EQ(AudioPart(original), AudioPart(edited));
  std::vector<std::pair<std::string, Bytes>> untouched;
  for (const auto& frame : ReadFrames(original)) {
    if (frame.first != "TALB" && frame.first != "TIT2") untouched.push_back(frame);
  }
  std::vector<std::pair<std::string, Bytes>> kept = ReadFrames(edited);
  kept.pop_back();  // the frame added
  kept.erase(kept.begin());  // TIT2, updated in place (mutagen writes it first)
  EXPECT_EQ(untouched, kept);
}

}  // namespace
}  // namespace tagkit_test
