#include "support/library_copy.h"

#include <fstream>
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
  loaded_ = LoadExports(library, &exports_, &error_);
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
  return std::u16string(err.c_str());
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
