#include "access/credentials.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

#include "access/environments.h"
#include "access/token_file.h"
#include "common/failure.h"

namespace k5_mkview {
namespace {

namespace fs = std::filesystem;

constexpr char kPracticeServer[] = "TERVIK-k5 Practice-2";
constexpr char kTradeServer[] = "TERVIK-k5 Live-1";

// A fresh folder under the system's temporary folder, removed with its content at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(std::u8string_view stem = u8"k5-credentials") {
    std::random_device random;
    do {
      path_ = fs::temp_directory_path() / stem;
      path_ += "-" + std::to_string(random());
    } while (!fs::create_directory(path_));
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const fs::path& path() const { return path_; }
  fs::path token_file() const { return path_ / TokenFile::kFileName; }
  void Write(std::string_view bytes) const {
    std::ofstream out(token_file(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  fs::path path_;
};

// `ascii` with each character widened to `width` bytes in the given order.
std::string Widen(std::string_view ascii, int width, bool little_endian) {
  std::string out;
  for (char c : ascii) {
    std::string unit(width, '\0');
    unit[little_endian ? 0 : width - 1] = c;
    out += unit;
  }
  return out;
}

std::string MessageOf(const std::function<void()>& work) {
  try {
    work();
  } catch (const Failure& e) {
    return e.message();
  }
  return "(no failure)";
}

class CredentialsTest : public ::testing::Test {
 protected:
  void SetUp() override { Environments::ResetForTesting(); }
  void TearDown() override { Environments::ResetForTesting(); }
};

TEST_F(CredentialsTest, ByteOrderMarksAndLineBreaksDoNotChangeTheToken) {
  const std::string token = "sandbox-practice-token";
  const std::string text = TokenFile::encrypt(token);
  std::string in_lines;  // four characters a line, as some editors wrap
  for (std::size_t i = 0; i < text.size(); i += 4) in_lines += text.substr(i, 4) + "\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    std::string token;
  };
  const Case cases[] = {
      {"UTF-8", text, token},
      {"UTF-8 with a line break", text + "\n", token},
      {"UTF-8 with CR LF", text + "\r\n", token},
      {"UTF-8 in lines", in_lines, token},
      {"UTF-8 with its mark", "\xEF\xBB\xBF" + text + "\r\n", token},
      {"UTF-16 LE", "\xFF\xFE" + Widen(text + "\r\n", 2, true), token},
      {"UTF-16 BE", "\xFE\xFF" + Widen(text, 2, false), token},
      {"UTF-32 LE", std::string("\xFF\xFE\0\0", 4) + Widen(text + "\n", 4, true), token},
      {"UTF-32 BE", std::string("\0\0\xFE\xFF", 4) + Widen(text, 4, false), token},
      {"empty", "", ""},
      {"white space only", " \t\r\n \r\n", ""},
      {"UTF-8 mark only", "\xEF\xBB\xBF", ""},
      {"UTF-16 LE mark only", "\xFF\xFE", ""},
      {"UTF-16 BE mark and a line break", "\xFE\xFF" + Widen("\r\n", 2, false), ""},
      {"UTF-32 LE mark only", std::string("\xFF\xFE\0\0", 4), ""},
      {"UTF-32 BE mark only", std::string("\0\0\xFE\xFF", 4), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    folder.Write(c.bytes);
    EXPECT_EQ(Credentials::InitializeFromTokenFolder(kPracticeServer, folder.path()), c.token);
    auto access = Environments::access();
    ASSERT_NE(access, nullptr);
    EXPECT_EQ(access->environment, Environment::Practice);
    EXPECT_EQ(access->Host, Environments::Details(Environment::Practice).Host);
    EXPECT_EQ(access->AccessToken, c.token);
    EXPECT_EQ(Environments::Details(Environment::Practice).AccessToken, c.token);
  }
}

TEST_F(CredentialsTest, LongTokenAcrossReadBuffers) {
  std::string token;
  for (int i = 0; token.size() < 10000; ++i) token += "chunk" + std::to_string(i) + "-";
  std::string text = TokenFile::encrypt(token), wrapped;
  for (std::size_t i = 0; i < text.size(); i += 76) wrapped += text.substr(i, 76) + "\n";
  ScratchFolder folder;
  folder.Write(wrapped);
  EXPECT_EQ(Credentials::ReadLocalCode(folder.path()), token);
}

TEST_F(CredentialsTest, FailureLeavesTheActiveRecordAndEveryToken) {
  ScratchFolder old_folder;
  old_folder.Write(TokenFile::encrypt("old-token") + "\n");
  ASSERT_EQ(Credentials::InitializeFromTokenFolder(kTradeServer, old_folder.path()), "old-token");
  const std::string valid = TokenFile::encrypt("new-token");

  enum class Setup { kNothing, kValidFile, kDirectory, kBadBase64, kUtf16WithoutMark };
  struct Case {
    const char* name;
    Setup setup;
    std::string server;
    std::string message_start;  // "" stands for "File does not exist: " and the file's full path
  };
  const Case cases[] = {
      {"no file", Setup::kNothing, kPracticeServer, ""},
      {"a folder in the file's place", Setup::kDirectory, kPracticeServer, ""},
      {"not Base64", Setup::kBadBase64, kPracticeServer, "The token file is not valid Base64: "},
      {"UTF-16 without its mark", Setup::kUtf16WithoutMark, kPracticeServer,
       "The token file is not valid Base64: "},
      {"lower case", Setup::kValidFile, "tervik-k5 practice-2",
       "Unrecognized Server: tervik-k5 practice-2"},
      {"upper case", Setup::kValidFile, "TERVIK-K5 PRACTICE-2",
       "Unrecognized Server: TERVIK-K5 PRACTICE-2"},
      {"trailing space", Setup::kValidFile, "TERVIK-k5 Practice-2 ",
       "Unrecognized Server: TERVIK-k5 Practice-2 "},
      {"leading space", Setup::kValidFile, " TERVIK-k5 Practice-2",
       "Unrecognized Server:  TERVIK-k5 Practice-2"},
      {"two spaces", Setup::kValidFile, "TERVIK-k5  Practice-2",
       "Unrecognized Server: TERVIK-k5  Practice-2"},
      {"empty name", Setup::kValidFile, "", "Unrecognized Server: "},
  };
  auto before = Environments::access();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    switch (c.setup) {
      case Setup::kNothing:
        break;
      case Setup::kValidFile:
        folder.Write(valid);
        break;
      case Setup::kDirectory:
        fs::create_directory(folder.token_file());
        break;
      case Setup::kBadBase64:
        folder.Write("c2Fu*ZGJveA==\n");
        break;
      case Setup::kUtf16WithoutMark:
        folder.Write(Widen(valid, 2, true));
        break;
    }
    std::string expected = c.message_start.empty()
                               ? "File does not exist: " + TokenFile::PathText(folder.token_file())
                               : c.message_start;
    std::string message =
        MessageOf([&] { Credentials::InitializeFromTokenFolder(c.server, folder.path()); });
    if (c.setup == Setup::kValidFile) {
      EXPECT_EQ(message, expected);  // the whole message: the name exactly as given
    } else {
      EXPECT_EQ(message.substr(0, expected.size()), expected) << message;
    }
    EXPECT_EQ(Environments::access(), before);
    EXPECT_EQ(Environments::Details(Environment::Trade).AccessToken, "old-token");
    EXPECT_EQ(Environments::Details(Environment::Practice).AccessToken, std::nullopt);
  }
}

TEST_F(CredentialsTest, FolderNamesNeedNotBeAscii) {
  const std::u8string stem = u8"k5-тест-テスト";
  ScratchFolder folder(stem);
  std::string message =
      MessageOf([&] { Credentials::InitializeFromTokenFolder(kPracticeServer, folder.path()); });
  EXPECT_EQ(message, "File does not exist: " + TokenFile::PathText(folder.token_file()));
  EXPECT_NE(message.find(std::string(stem.begin(), stem.end()) + "-"), std::string::npos)
      << message;
  folder.Write(TokenFile::encrypt("token-\xE2\x82\xAC"));
  EXPECT_EQ(Credentials::InitializeFromTokenFolder(kPracticeServer, folder.path()),
            "token-\xE2\x82\xAC");
}

TEST_F(CredentialsTest, ReadFailureIsNotReportedAsAMissingFile) {
  // Reading /proc/self/mem at offset 0 fails (nothing is mapped there), which gives a file that
  // opens but cannot be read.
  ScratchFolder folder;
  std::error_code error;
  fs::create_symlink("/proc/self/mem", folder.token_file(), error);
  if (error || !fs::is_regular_file(folder.token_file(), error)) {
    GTEST_SKIP() << "no /proc/self/mem to stand for an unreadable file here";
  }
  std::string message = MessageOf([&] { Credentials::ReadLocalCode(folder.path()); });
  std::string expected = "Cannot read " + TokenFile::PathText(folder.token_file()) + ": ";
  EXPECT_EQ(message.substr(0, expected.size()), expected) << message;
  EXPECT_GT(message.size(), expected.size()) << "no reason given";
}

TEST_F(CredentialsTest, InitCredsTakesTheFileWhenAllThreeNumbersAreZero) {
  // The file way looks beside this test program, where there is normally no token file. The
  // non-zero numbers take the exchange, which needs the sandbox: the ABI suite's
  // AbiExchangeCodeTest.NonZeroNumbersTakeTheExchangeWithTheirCode covers them.
  EXPECT_EQ(MessageOf([] { Credentials::InitCreds("TERVIK", 1.0, 2, 3); }),
            "Unrecognized Server: TERVIK");
  EXPECT_EQ(MessageOf([] { Credentials::InitCreds("TERVIK", 0.0, 0, 0); }),
            "Unrecognized Server: TERVIK");
  EXPECT_EQ(Environments::access(), nullptr);
  for (double open : {0.0, -0.0}) {
    SCOPED_TRACE(testing::Message() << open);
    std::string message = MessageOf([&] { Credentials::InitCreds(kPracticeServer, open, 0, 0); });
    EXPECT_TRUE(message == "(no failure)" || message.rfind("File does not exist: ", 0) == 0)
        << message;
  }
}

}  // namespace
}  // namespace k5_mkview
