// The token endpoint's reply: the SAX mapping checked against a reading of the same document
// through RapidJSON's DOM.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "access/code_exchange.h"
#include "common/failure.h"
#include "fuzz_check.h"
#include "net/json_reader.h"
#include "rapidjson/document.h"
#include "rapidjson/memorystream.h"

namespace k5_mkview {
namespace {

// What FromJson must give for a well-formed document: `wrong_kind` when it cannot map, else
// `record` (absent for null) whose token is the last access_token member's text.
struct Expected {
  bool wrong_kind = false;
  std::optional<TokenResponse> record;
};

Expected Oracle(const rapidjson::Value& root) {
  Expected e;
  if (root.IsNull()) return e;
  if (!root.IsObject()) {
    e.wrong_kind = true;
    return e;
  }
  e.record.emplace();
  for (const auto& m : root.GetObject()) {
    std::string_view name(m.name.GetString(), m.name.GetStringLength());
    if (!SameMemberName(name, "access_token")) continue;
    const rapidjson::Value& v = m.value;
    if (v.IsObject() || v.IsArray()) {
      e.wrong_kind = true;
      return e;
    }
    if (v.IsNull()) {
      e.record->access_token.reset();
    } else if (v.IsBool()) {
      e.record->access_token = v.GetBool() ? "true" : "false";
    } else {
      // Numbers are read as their literal text, as the mapping keeps them.
      e.record->access_token.emplace(v.GetString(), v.GetStringLength());
    }
  }
  return e;
}

int NestingDepth(std::string_view text) {
  int depth = 0, deepest = 0;
  for (char c : text) {
    if (c == '[' || c == '{') deepest = std::max(deepest, ++depth);
    if (c == ']' || c == '}') --depth;
  }
  return deepest;
}

}  // namespace
}  // namespace k5_mkview

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace k5_mkview;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<TokenResponse> record;
  bool failed = false;
  try {
    record = TokenResponse::FromJson(text);
  } catch (const Failure&) {
    failed = true;
  }
  if (NestingDepth(text) > 256) return 0;  // the DOM's destructor recurses

  rapidjson::Document doc;
  // A plain memory stream, as the mapping reads: Parse(text, length) would skip a byte-order mark.
  rapidjson::MemoryStream stream(text.data(), text.size());
  doc.ParseStream<rapidjson::kParseNumbersAsStringsFlag>(stream);
  if (doc.HasParseError()) {
    K5_FUZZ_CHECK(failed != IsBlankJson(text));
    K5_FUZZ_CHECK(!record);
    return 0;
  }
  Expected want = Oracle(doc);
  K5_FUZZ_CHECK(failed == want.wrong_kind);
  if (failed) return 0;
  K5_FUZZ_CHECK(record.has_value() == want.record.has_value());
  if (record) K5_FUZZ_CHECK(record->access_token == want.record->access_token);
  return 0;
}
