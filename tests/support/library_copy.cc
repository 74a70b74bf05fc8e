#include "support/library_copy.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <system_error>

namespace k5test {

namespace fs = std::filesystem;

LibraryCopy::LibraryCopy(std::u8string_view stem) {
  std::random_device random;
  do {
    folder_ = fs::temp_directory_path() / stem;
    folder_ += "-" + std::to_string(random());
  } while (!fs::create_directory(folder_));
  fs::path library = folder_ / LibraryFileName();
  fs::copy_file(ExecutableDir() / LibraryFileName(), library);
  LoadFailure failure;
  loaded_ = LoadExports(library, &exports_, &failure);
  error_ = failure.message;
}

LibraryCopy::~LibraryCopy() {
  exports_.library.reset();  // unloaded first: Windows does not delete a loaded DLL's file
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

void LibraryCopy::WriteTokenFile(std::string_view content) const {
  std::ofstream out(token_file(), std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::u16string LibraryCopy::InitCreds(const char16_t* server, double open, int magic,
                                      int exp) const {
  std::u16string err(2000, u' ');
  exports_.InitCreds(server, open, magic, exp, err.data());
  std::u16string text(err.c_str());
  RecordErrText(text);
  return text;
}

void RecordErrText(const std::u16string& text) {
  static const char* const log = std::getenv("K5_ERR_LOG");
  if (log == nullptr || text.empty()) return;
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  std::error_code ignored;
  fs::create_directories(fs::path(log).parent_path(), ignored);
  // One write per text, appended: the processes of one suite share the file.
  std::ofstream out(log, std::ios::binary | std::ios::app);
  out << Narrow(text) + "\n";
}

std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
  return out;
}

std::u16string U16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace k5test
