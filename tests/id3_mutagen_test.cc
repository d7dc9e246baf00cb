// Cross-check with an independent reader: every corpus file that holds an
// ID3v2.2 or ID3v2.3 tag is rewritten (once unchanged, once with a frame
// added) and read back by python3-mutagen, which must see the same frames and
// the same audio bytes behind the tag.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rewrite_support.h"
#include "test_support.h"
#include "tlx_id3.h"

namespace tagkit_test {
namespace {

// Prints one line per file: path, a tab, then either "error" or the sorted
// frame representations and a digest of the bytes behind the tag.
const char kReader[] = R"PY(
import hashlib, sys
from mutagen.id3 import ID3
for path in sys.argv[1:]:
    try:
        tag = ID3(path)
        frames = sorted(repr(f) for f in tag.values())
        with open(path, 'rb') as f:
            audio = f.read()[tag.size:]
        print(path + '\t' + 'v%d.%d' % tag.version[:2] + ' ' +
              hashlib.sha256(audio).hexdigest() + ' ' + repr(frames))
    except Exception as e:
        print(path + '\terror ' + type(e).__name__)
)PY";

std::string Python() {
  for (const char* candidate : {"/usr/bin/python3", "python3"}) {
    std::string probe = std::string(candidate) + " -c 'import mutagen' >/dev/null 2>&1";
    if (system(probe.c_str()) == 0) return candidate;
  }
  return "";
}

std::map<std::string, std::string> ReadWithMutagen(const std::string& python, const std::string& script,
                                                   const std::vector<std::string>& paths) {
  std::string command = python + " " + script;
  for (const std::string& path : paths) command += " '" + path + "'";
  std::map<std::string, std::string> out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  std::string all;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) all.append(buffer, n);
  pclose(pipe);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(start, end - start);
    size_t tab = line.find('\t');
    if (tab != std::string::npos) out[line.substr(0, tab)] = line.substr(tab + 1);
    start = end + 1;
  }
  return out;
}

// Rewrites the file through one editing transaction; added frames, if any,
// are a private frame of the given size. Returns the engine result.
int32_t Rewrite(const std::string& path, uint32_t added) {
  Context ctx;
  int32_t rc = ctx.Open(path);
  if (rc != 0) return rc;
  tlx_id3_v2_header header;
  rc = tlx_id3_v2_get_header(ctx.get(), &header);
  if (rc != 0) return rc;
  rc = tlx_id3_v2_edit_begin(ctx.get());
  if (rc != 0) return rc;
  if (header.has_ext_header) {
    rc = tlx_id3_v2_remove_extended_header(ctx.get());
    if (rc != 0) return rc;
  }
  if (added != 0) {
    // ID3v2.2 has no private frame: a user text frame (encoding, description,
    // value) stands in for it.
    const bool v22 = header.version == TLX_ID3_V22;
    Bytes data = v22 ? Concat({Bytes(1, 0), Text("tagkit-test"), Bytes(1, 0), Bytes(added, 'v')})
                     : Concat({Text("tagkit-test"), Bytes(1, 0), Audio(added)});
    tlx_id3_v2_frame_header record = FrameRecord(v22 ? "TXX" : "PRIV", static_cast<uint32_t>(data.size()));
    rc = tlx_id3_v2_add_frame(ctx.get(), &record, data.data());
    if (rc != 0) return rc;
  }
  rc = tlx_id3_v2_edit_end(ctx.get());
  int32_t closed = ctx.Close();
  return rc != 0 ? rc : closed;
}

TEST(MutagenCrossCheck, RewrittenCorpusFilesReadTheSame) {
  const std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not found";
  const std::string python = Python();
  if (python.empty()) GTEST_SKIP() << "python3 with mutagen not found";

  TempDir dir;
  std::string tmp = dir.File("tmp");
  mkdir(tmp.c_str(), 0700);
  ScopedTmpdir tmpdir(tmp);
  std::string script = dir.File("reader.py");
  WriteFile(script, Text(kReader));

  // Originals, unchanged copies and copies with one frame added.
  std::vector<std::string> originals, same, added;
  for (const char* sub : {"mutagen", "taglib"}) {
    for (const std::string& name : ListDir(corpus + "/" + sub)) {
      std::string source = corpus + "/" + sub + "/" + name;
      Bytes bytes = ReadFile(source);
      if (bytes.size() < 10 || bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3' ||
          (bytes[3] != 2 && bytes[3] != 3)) {
        continue;
      }
      std::string base = std::string(sub) + "-" + name;
      originals.push_back(source);
      same.push_back(dir.File("same-" + base));
      added.push_back(dir.File("added-" + base));
      WriteFile(same.back(), bytes);
      WriteFile(added.back(), bytes);
    }
  }
  ASSERT_GE(originals.size(), 10u);

  std::vector<std::string> all = originals;
  int rewritten = 0;
  for (size_t i = 0; i < originals.size(); ++i) {
    SCOPED_TRACE(originals[i]);
    int32_t rc_same = Rewrite(same[i], 0);
    int32_t rc_added = Rewrite(added[i], 300);
    EXPECT_EQ(rc_same, rc_added);
    if (rc_same != 0) {
      // A tag the engine cannot list (a frame running past the end of the
      // file) is refused, and the file is left as it was.
      EXPECT_EQ(ReadFile(originals[i]), ReadFile(same[i]));
      EXPECT_EQ(ReadFile(originals[i]), ReadFile(added[i]));
      continue;
    }
    ++rewritten;
    all.push_back(same[i]);
    all.push_back(added[i]);
  }
  EXPECT_TRUE(ListDir(tmp).empty());
  EXPECT_GE(rewritten, 10);

  std::map<std::string, std::string> seen = ReadWithMutagen(python, script, all);
  int compared = 0;
  for (size_t i = 0; i < originals.size(); ++i) {
    if (seen.count(same[i]) == 0) continue;  // refused above
    SCOPED_TRACE(originals[i]);
    const std::string& before = seen[originals[i]];
    ASSERT_FALSE(before.empty());
    if (before.rfind("error", 0) == 0) {
      // mutagen cannot read the original; the rewrite must not be worse
      // than that, but there is nothing to compare.
      continue;
    }
    ++compared;
    EXPECT_EQ(before, seen[same[i]]);
    // The added frame is the only difference.
    const std::string& with_frame = seen[added[i]];
    EXPECT_EQ(before.substr(0, before.find('[')), with_frame.substr(0, with_frame.find('[')));
    EXPECT_NE(std::string::npos, with_frame.find("tagkit-test"));
    EXPECT_GT(with_frame.size(), before.size());
  }
  EXPECT_GE(compared, 8);
  RecordProperty("candidates", static_cast<int>(originals.size()));
  RecordProperty("rewritten", rewritten);
  RecordProperty("compared", compared);
}

}  // namespace
}  // namespace tagkit_test
