#ifndef K5_MKVIEW_NET_JSON_READER_H_
#define K5_MKVIEW_NET_JSON_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/failure.h"
#include "rapidjson/error/en.h"
#include "rapidjson/reader.h"

namespace k5_mkview {

// True when `text` holds no JSON value: empty or JSON white space only.
bool IsBlankJson(std::string_view text);

// Member names map onto record fields without regard to letter case.
bool SameMemberName(std::string_view a, std::string_view b);

// Base of the SAX handlers that map a document straight onto the library's records. A handler
// returns Reject(message) from an event to stop the reading with that message.
class JsonMapper {
 public:
  const std::string& rejection() const { return rejection_; }

  // Numbers arrive as RawNumber (their literal text); these typed forms are never called.
  bool Int(int) { return false; }
  bool Uint(unsigned) { return false; }
  bool Int64(std::int64_t) { return false; }
  bool Uint64(std::uint64_t) { return false; }
  bool Double(double) { return false; }

 protected:
  bool Reject(std::string message) {
    rejection_ = std::move(message);
    return false;
  }

 private:
  std::string rejection_;
};

// Reads `text` with `handler`: iteratively, so nesting depth cannot exhaust the stack, and with
// numbers handed over as their literal text (RawNumber). Returns false, without a failure and
// without calling the handler, when the document holds no value. Throws Failure with the reader's
// message and offset, or the handler's rejection, when the document is malformed or of the
// wrong shape.
template <typename Handler>
bool ReadJson(std::string_view text, Handler& handler) {
  if (IsBlankJson(text)) return false;
  rapidjson::MemoryStream stream(text.data(), text.size());
  rapidjson::Reader reader;
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag;
  rapidjson::ParseResult result = reader.Parse<kFlags>(stream, handler);
  if (result) return true;
  if (!handler.rejection().empty()) {
    throw Failure("JSON reply: " + handler.rejection() + " (at offset " +
                  std::to_string(result.Offset()) + ")");
  }
  throw Failure(std::string("JSON reply is not valid: ") +
                rapidjson::GetParseError_En(result.Code()) + " (at offset " +
                std::to_string(result.Offset()) + ")");
}

}  // namespace k5_mkview

#endif  // K5_MKVIEW_NET_JSON_READER_H_
