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

// Member names map onto record fields without regard to letter case. Inline: mappers call it for
// every member name of a reply.
inline bool SameMemberName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;  // the service's own spelling: one comparison
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

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

namespace internal {
template <typename Handler>
bool CheckJsonResult(rapidjson::ParseResult result, const Handler& handler);
}  // namespace internal

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
  return internal::CheckJsonResult(reader.Parse<kFlags>(stream, handler), handler);
}

// Like ReadJson, but faster, for a text the caller hands over: it is read in place (the texts
// passed to the handler point into it and its bytes are overwritten) and recursively, so the
// handler must stop the reading (Reject) before the nesting grows deeper than a few hundred
// levels; kMaxJsonDepth is a depth that every platform's stack takes.
inline constexpr int kMaxJsonDepth = 256;
//
// A handler with AttachStream(rapidjson::InsituStringStream*) is given the stream before the
// reading starts. In an event it may read ahead itself, moving the stream's src_ past whole,
// well-formed values that it maps itself, provided it leaves the stream where the reader may
// resume (a place where the reader expects a value).
template <typename Handler>
bool ReadJsonInPlace(std::string& text, Handler& handler) {
  if (IsBlankJson(text)) return false;
  // An embedded NUL ends the document here as it does for ReadJson's stream.
  rapidjson::InsituStringStream stream(text.data());
  if constexpr (requires { handler.AttachStream(&stream); }) handler.AttachStream(&stream);
  rapidjson::Reader reader;
  constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseNumbersAsStringsFlag;
  return internal::CheckJsonResult(reader.Parse<kFlags>(stream, handler), handler);
}

namespace internal {

template <typename Handler>
bool CheckJsonResult(rapidjson::ParseResult result, const Handler& handler) {
  if (result) return true;
  if (!handler.rejection().empty()) {
    throw Failure("JSON reply: " + handler.rejection() + " (at offset " +
                  std::to_string(result.Offset()) + ")");
  }
  throw Failure(std::string("JSON reply is not valid: ") +
                rapidjson::GetParseError_En(result.Code()) + " (at offset " +
                std::to_string(result.Offset()) + ")");
}

}  // namespace internal
}  // namespace k5_mkview

#endif  // K5_MKVIEW_NET_JSON_READER_H_
