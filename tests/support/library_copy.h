#ifndef K5_MKVIEW_TESTS_SUPPORT_LIBRARY_COPY_H_
#define K5_MKVIEW_TESTS_SUPPORT_LIBRARY_COPY_H_

#include <filesystem>
#include <string>
#include <string_view>

#include "support/abi_exports.h"

namespace k5test {

// A copy of the built library in a fresh folder of its own, loaded from there: the token file
// beside it is the test's alone, and the copy's process-wide state (books, credentials, clock)
// starts fresh.
class LibraryCopy {
 public:
  explicit LibraryCopy(std::u8string_view stem);
  ~LibraryCopy();
  LibraryCopy(const LibraryCopy&) = delete;
  LibraryCopy& operator=(const LibraryCopy&) = delete;

  bool loaded() const { return loaded_; }
  const std::string& error() const { return error_; }
  const K5Exports& exports() const { return exports_; }
  std::filesystem::path token_file() const { return folder_ / "tervik_token.txt"; }

  void WriteTokenFile(std::string_view content) const;

  // Calls the copy's InitCreds with a roomy err buffer and returns what err holds afterwards.
  std::u16string InitCreds(const char16_t* server, double open = 0.0, int magic = 0,
                           int exp = 0) const;

 private:
  std::filesystem::path folder_;
  K5Exports exports_;
  std::string error_;
  bool loaded_ = false;
};

// For failure messages only: ASCII as it is, anything else as "?".
std::string Narrow(const std::u16string& text);

// An ASCII text as UTF-16.
std::u16string U16(const std::string& ascii);

// Appends a text that the library handed back in err, when not empty, to the file named by the
// environment variable K5_ERR_LOG (set by the test registration), so that a check after the
// suites can scan every err text for secrets. Does nothing when the variable is not set. Safe to
// call from any thread.
void RecordErrText(const std::u16string& text);

// A caller's err buffer, refilled with spaces before every call as a caller must (a call that
// succeeds hands it back empty, which leaves no room for the next text).
struct Err {
  std::u16string buffer;
  char16_t* get() {
    buffer.assign(4000, u' ');
    return buffer.data();
  }
  std::u16string text() const {
    std::u16string text(buffer.c_str());
    RecordErrText(text);
    return text;
  }
};

}  // namespace k5test

#endif  // K5_MKVIEW_TESTS_SUPPORT_LIBRARY_COPY_H_
