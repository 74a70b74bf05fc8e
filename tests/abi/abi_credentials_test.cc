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

#include "support/library_copy.h"

namespace {

namespace fs = std::filesystem;
using k5test::LibraryCopy;
using k5test::Narrow;

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
