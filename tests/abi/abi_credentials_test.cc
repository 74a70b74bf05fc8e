// InitCreds through the loaded library: the token file is looked for beside the library's own
// file, wherever the host program lies, also in a folder whose name is not ASCII (user profiles
// often are not).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

#include "support/abi_exports.h"
#include "support/library_loader.h"

namespace {

namespace fs = std::filesystem;

// A copy of the built library in a fresh folder of its own, loaded from there, so the token file
// beside it is this test's alone.
class LibraryCopy {
 public:
  explicit LibraryCopy(std::u8string_view stem) {
    std::random_device random;
    do {
      folder_ = fs::temp_directory_path() / stem;
      folder_ += "-" + std::to_string(random());
    } while (!fs::create_directory(folder_));
    fs::path library = folder_ / k5test::LibraryFileName();
    fs::copy_file(k5test::ExecutableDir() / k5test::LibraryFileName(), library);
    loaded_ = k5test::LoadExports(library, &exports_, &error_);
  }
  ~LibraryCopy() {
    exports_.library.reset();  // unloaded first: Windows does not delete a loaded DLL's file
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  LibraryCopy(const LibraryCopy&) = delete;
  LibraryCopy& operator=(const LibraryCopy&) = delete;

  bool loaded() const { return loaded_; }
  const std::string& error() const { return error_; }
  fs::path token_file() const { return folder_ / "tervik_token.txt"; }

  void WriteTokenFile(std::string_view content) const {
    std::ofstream out(token_file(), std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }

  // Calls the copy's InitCreds with a roomy err buffer and returns what err holds afterwards.
  std::u16string InitCreds(const char16_t* server, double open = 0.0, int magic = 0,
                           int exp = 0) const {
    std::u16string err(2000, u' ');
    exports_.InitCreds(server, open, magic, exp, err.data());
    return std::u16string(err.c_str());
  }

 private:
  fs::path folder_;
  k5test::K5Exports exports_;
  std::string error_;
  bool loaded_ = false;
};

// For failure messages only: ASCII as it is, anything else as "?".
std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
  return out;
}

// The folder names the copies lie in, by test parameter.
constexpr const char8_t* kFolderStems[] = {u8"k5-abi-credentials", u8"k5-abi-тест-テスト"};

class AbiCredentialsTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    copy_ = std::make_unique<LibraryCopy>(kFolderStems[GetParam()]);
    ASSERT_TRUE(copy_->loaded()) << copy_->error();
  }
  void TearDown() override { copy_.reset(); }

  // err must be `message`, a line feed and the trace.
  static void ExpectMessage(const std::u16string& err, const std::u16string& message) {
    EXPECT_EQ(err.substr(0, message.size() + 1), message + u"\n") << Narrow(err);
  }

  std::unique_ptr<LibraryCopy> copy_;
};

TEST_P(AbiCredentialsTest, ZeroNumbersReadTheTokenFileBesideTheLibrary) {
  copy_->WriteTokenFile("c2FuZGJveC1wcmFjdGljZS10b2tlbg==\r\n");
  EXPECT_EQ(copy_->InitCreds(u"TERVIK-k5 Practice-2"), u"");
  EXPECT_EQ(copy_->InitCreds(u"TERVIK-k5 Practice-2", -0.0), u"");
  EXPECT_EQ(copy_->InitCreds(u"TervikTest-NG Dev"), u"");
  // The file's content decides: this is the file that was read.
  copy_->WriteTokenFile("c2FuZGJveC*wcmFjdGljZS10b2tlbg==");
  std::u16string err = copy_->InitCreds(u"TERVIK-k5 Practice-2");
  EXPECT_EQ(err.rfind(u"The token file is not valid Base64: ", 0), 0u) << Narrow(err);
  // The empty token is a token.
  copy_->WriteTokenFile("\xEF\xBB\xBF\r\n");
  EXPECT_EQ(copy_->InitCreds(u"TERVIK-k5 Practice-2"), u"");
}

TEST_P(AbiCredentialsTest, WithoutTheFileErrNamesItsFullPath) {
  ExpectMessage(copy_->InitCreds(u"TERVIK-k5 Practice-2"),
                u"File does not exist: " + copy_->token_file().u16string());
  // A folder in the file's place is no file either.
  fs::create_directory(copy_->token_file());
  ExpectMessage(copy_->InitCreds(u"TERVIK-k5 Live-1"),
                u"File does not exist: " + copy_->token_file().u16string());
}

TEST_P(AbiCredentialsTest, UnknownServerIsNamedExactly) {
  copy_->WriteTokenFile("c2FuZGJveC1wcmFjdGljZS10b2tlbg==");
  for (const char16_t* name :
       {u"tervik-k5 practice-2", u"TERVIK-k5 Practice-2 ", u"", u"Сервер テスト \U0001F511"}) {
    ExpectMessage(copy_->InitCreds(name), u"Unrecognized Server: " + std::u16string(name));
    ExpectMessage(copy_->InitCreds(name, 1.5, 7, 9),
                  u"Unrecognized Server: " + std::u16string(name));
  }
}

INSTANTIATE_TEST_SUITE_P(Folders, AbiCredentialsTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == 0 ? "Ascii" : "NonAscii");
                         });

}  // namespace
