// Names and plain sentences for the library's result codes, and the one-line
// messages of failed files.
#include <cstdio>

#include "cli.h"

namespace tagkit_cli {
namespace {

struct ResultText {
  HRESULT code;
  const char* name;
  const char* sentence;
};

const ResultText kResults[] = {
    {S_OK, "S_OK", "success"},
    {S_FALSE, "S_FALSE", "success without a value"},
    {E_POINTER, "E_POINTER", "a data pointer is missing"},
    {E_FAIL, "E_FAIL", "the tag could not be read or written"},
    {E_UNEXPECTED, "E_UNEXPECTED", "the file is not open"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY", "out of memory"},
    {E_INVALIDARG, "E_INVALIDARG", "a value is out of range"},
    {E_TAG_FILE_NOT_FOUND, "E_TAG_FILE_NOT_FOUND", "file not found"},
    {E_TAG_FOREIGN_MUSIC_ID, "E_TAG_FOREIGN_MUSIC_ID",
     "the file's music identifier belongs to another owner and is kept"},
    {E_TAG_CANNOT_OPEN, "E_TAG_CANNOT_OPEN",
     "the file cannot be opened (permission denied, or in use by another program)"},
    {E_TAG_NO_VALUE, "E_TAG_NO_VALUE", "the property is absent"},
    {E_TAG_UNSUPPORTED, "E_TAG_UNSUPPORTED", "the property is not supported in this tag"},
    {E_TAG_DAMAGED, "E_TAG_DAMAGED",
     "the tag is damaged (it runs past its end or the file's); it is not rewritten, so that "
     "nothing behind it is lost"},
    {E_TAG_READ_ONLY, "E_TAG_READ_ONLY",
     "a frame to replace or remove is marked read only; it is kept and nothing is changed"},
};

const ResultText* Find(HRESULT code) {
  for (const ResultText& row : kResults) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

}  // namespace

std::string ResultName(HRESULT code) {
  if (const ResultText* row = Find(code)) return row->name;
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

std::string ResultSentence(HRESULT code) {
  if (const ResultText* row = Find(code)) return row->sentence;
  return FAILED(code) ? "the operation failed" : "success";
}

std::string FailureText(const Failure& failure) {
  std::string text = ResultName(failure.code) + ": ";
  if (!failure.what.empty()) text += failure.what + ": ";
  return text + ResultSentence(failure.code);
}

std::string FailureJsonLine(const Failure& failure) {
  JsonWriter writer;
  writer.BeginObject();
  writer.Key("file");
  writer.String(failure.file);
  writer.Key("error");
  writer.String(FailureText(failure));
  writer.EndObject();
  return writer.str() + "\n";
}

std::string FailureLine(const Failure& failure) {
  return Printable(failure.file) + ": " + FailureText(failure);
}

}  // namespace tagkit_cli
