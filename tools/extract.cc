// `tagkit extract-picture`: the cover picture's bytes, as stored.
#include <iostream>

#include "cli.h"

namespace tagkit_cli {

int RunExtractPicture(const std::vector<std::string>& args) {
  std::vector<std::string> operands;
  bool options_done = false;
  bool strict = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
    } else if (arg == "--") {
      options_done = true;
    } else if (IsHelp(arg)) {
      std::cout << kExtractHelp;
      return kExitOk;
    } else if (arg == "--strict") {
      strict = true;
    } else {
      const int code_page = TakeCodePage("extract-picture", args, i);
      if (code_page == kNotCodePage) return UsageError("extract-picture", "unknown option '" + arg + "'");
      if (code_page != kExitOk) return code_page;
    }
  }
  if (operands.size() != 2) return UsageError("extract-picture", "needs FILE and OUT");
  const std::string& file = operands[0];
  const std::string& out = operands[1];
  if (SameFile(file, out)) {
    return UsageError("extract-picture", "OUT is the audio file itself");
  }

  CTagkit tag;
  HRESULT hr = tag.Open(Utf8ToWide(file), TAGKIT_OPEN_READ | (strict ? 0 : TAGKIT_OPEN_V24));
  if (FAILED(hr)) {
    ReportFailure(Failure{file, hr, "cannot open the file"}, nullptr);
    return kExitFailed;
  }
  CTagkit::PictureVector pictures;
  hr = tag.GetBinary(PROPID_PICTURE, pictures);
  if (SUCCEEDED(hr) && (pictures.empty() || !pictures.front())) hr = E_TAG_NO_VALUE;
  std::vector<unsigned char> bytes;
  if (SUCCEEDED(hr)) {
    CTagkit::CPicture& picture = *pictures.front();
    bytes.resize(static_cast<std::size_t>(picture.Size()));
    unsigned char* data = bytes.data();
    std::int32_t size = picture.Size();
    hr = picture.GetData(&data, size);
    bytes.resize(static_cast<std::size_t>(size));
  }
  tag.Close();
  if (FAILED(hr)) {
    ReportFailure(Failure{file, hr, "no cover picture"}, nullptr);
    return kExitFailed;
  }
  hr = WriteWholeFile(out, bytes);
  if (FAILED(hr)) {
    ReportFailure(Failure{out, hr, "cannot write the picture"}, nullptr);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace tagkit_cli
