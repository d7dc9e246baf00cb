// `tagkit recover`: completes edits that a crash interrupted while the new
// file was copied over the old one in place, and says which files it
// completed. Opening a file through the library does the same on the way.
#include <iostream>

#include "cli.h"
#include "tlx_id3.h"

namespace tagkit_cli {

int RunRecover(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  bool options_done = false;
  for (const std::string& arg : args) {
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      files.push_back(arg);
    } else if (arg == "--") {
      options_done = true;
    } else if (IsHelp(arg)) {
      std::cout << kRecoverHelp;
      return kExitOk;
    } else {
      return UsageError("recover", "unknown option '" + arg + "'");
    }
  }
  if (files.empty()) return UsageError("recover", "no file given");
  int result = kExitOk;
  for (const std::string& file : files) {
    std::int32_t completed = 0;
    if (tlx_id3_complete_interrupted(Utf8ToWide(file).c_str(), &completed) != TLX_ID3_OK) {
      ReportFailure(Failure{file, E_FAIL, "cannot complete the interrupted edit now"}, nullptr);
      result = kExitFailed;
    } else if (completed != 0) {
      std::cout << Printable(file) << ": completed an interrupted edit\n";
    }
  }
  return result;
}

}  // namespace tagkit_cli
