// Book replies: the SAX mapping of both envelopes, checked against a plain reading of the same
// document through RapidJSON's DOM, then the book queries over every book that maps.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "books/book_reply.h"
#include "common/failure.h"
#include "exports/book_queries.h"
#include "exports/decimal.h"
#include "fuzz_check.h"
#include "net/json_reader.h"
#include "rapidjson/document.h"
#include "rapidjson/memorystream.h"

namespace k5_mkview {
namespace {

using Value = rapidjson::Value;

// The oracle's own model of a book: each text as it should read back from the stored book.
using Text = std::optional<std::string>;
struct WantBucket {
  Text shortCountPercent, longCountPercent, price;
};
struct WantBook {
  std::optional<std::vector<WantBucket>> buckets;
  Text bucketWidth, price, time, instrument;
};

// The oracle: what the mapping must give, written over the DOM without the SAX state machine.
// A kind that cannot map is `wrong_kind`; otherwise `book` is what the envelope holds.
struct Expected {
  bool wrong_kind = false;
  std::optional<WantBook> book;  // absent: no book (member missing or null)
};

bool Same(const Value& name, std::string_view wanted) {
  return SameMemberName(std::string_view(name.GetString(), name.GetStringLength()), wanted);
}

// A text member: strings and numbers (read as strings here) keep their text, booleans spell
// themselves, null empties; objects and arrays cannot map.
bool ReadText(const Value& v, Text* out) {
  if (v.IsNull()) {
    out->reset();
  } else if (v.IsString()) {
    out->emplace(v.GetString(), v.GetStringLength());
  } else if (v.IsBool()) {
    out->emplace(v.GetBool() ? "true" : "false");
  } else {
    return false;
  }
  return true;
}

bool ReadBucket(const Value& v, WantBucket* bucket) {
  if (v.IsNull()) return true;
  if (!v.IsObject()) return false;
  for (const auto& m : v.GetObject()) {
    Text* target = nullptr;
    if (Same(m.name, "shortCountPercent")) target = &bucket->shortCountPercent;
    if (Same(m.name, "longCountPercent")) target = &bucket->longCountPercent;
    if (Same(m.name, "price")) target = &bucket->price;
    if (target != nullptr && !ReadText(m.value, target)) return false;
  }
  return true;
}

bool ReadBook(const Value& v, WantBook* book) {
  for (const auto& m : v.GetObject()) {
    if (Same(m.name, "buckets")) {
      if (m.value.IsNull()) {
        book->buckets.reset();
      } else if (m.value.IsArray()) {
        book->buckets.emplace();
        for (const Value& element : m.value.GetArray()) {
          book->buckets->emplace_back();
          if (!ReadBucket(element, &book->buckets->back())) return false;
        }
      } else {
        return false;
      }
      continue;
    }
    Text* target = nullptr;
    if (Same(m.name, "bucketWidth")) target = &book->bucketWidth;
    if (Same(m.name, "price")) target = &book->price;
    if (Same(m.name, "time")) target = &book->time;
    if (Same(m.name, "instrument")) target = &book->instrument;
    if (target != nullptr && !ReadText(m.value, target)) return false;
  }
  return true;
}

// Null for the document or a missing envelope is Expected{} with `envelope` false.
Expected Oracle(const Value& root, std::string_view member, bool* envelope) {
  Expected e;
  *envelope = false;
  if (root.IsNull()) return e;
  if (!root.IsObject()) {
    e.wrong_kind = true;
    return e;
  }
  *envelope = true;
  for (const auto& m : root.GetObject()) {
    if (!Same(m.name, member)) continue;
    if (m.value.IsNull()) {
      e.book.reset();
    } else if (m.value.IsObject()) {
      e.book.emplace();
      if (!ReadBook(m.value, &*e.book)) {
        e.wrong_kind = true;
        return e;
      }
    } else {
      e.wrong_kind = true;
      return e;
    }
  }
  return e;
}

bool Same(const Book& book, TextRef ref, const Text& want) {
  std::optional<std::string_view> text = book.Text(ref);
  return text.has_value() == want.has_value() && (!text || *text == *want);
}

bool SameBook(const Book& a, const WantBook& b) {
  if (!Same(a, a.bucketWidth, b.bucketWidth) || !Same(a, a.price, b.price) ||
      !Same(a, a.time, b.time) || !Same(a, a.instrument, b.instrument) ||
      a.buckets.has_value() != b.buckets.has_value()) {
    return false;
  }
  if (!a.buckets) return true;
  return std::equal(a.buckets->begin(), a.buckets->end(), b.buckets->begin(), b.buckets->end(),
                    [&a](const Bucket& x, const WantBucket& y) {
                      return Same(a, x.shortCountPercent, y.shortCountPercent) &&
                             Same(a, x.longCountPercent, y.longCountPercent) &&
                             Same(a, x.price, y.price);
                    });
}

// How deep arrays and objects nest, to keep the DOM's recursive destructor off deep documents.
int NestingDepth(std::string_view text) {
  int depth = 0, deepest = 0;
  for (char c : text) {
    if (c == '[' || c == '{') deepest = std::max(deepest, ++depth);
    if (c == ']' || c == '}') --depth;
  }
  return deepest;
}

constexpr char16_t kGuard = u'\xBEEF';

// A caller's text buffer of `capacity` units (filled with '#'), its NUL and guard units after it.
struct TextBuffer {
  explicit TextBuffer(std::size_t capacity) : units(capacity + 1 + 4, kGuard), capacity(capacity) {
    std::fill_n(units.begin(), capacity, u'#');
    units[capacity] = u'\0';
  }
  char16_t* data() { return units.data(); }
  void CheckIntact() const {
    for (std::size_t i = capacity + 1; i < units.size(); ++i) K5_FUZZ_CHECK(units[i] == kGuard);
    K5_FUZZ_CHECK(units[capacity] == u'\0');
  }
  std::vector<char16_t> units;
  std::size_t capacity;
};

// Runs the three queries over a stored book with small arrays and buffers. A value that maps but
// is no decimal number may throw Failure; nothing may write past what the caller handed over.
void Query(const BookPtr& book, std::uint8_t sizes) {
  TextBuffer err(sizes & 7);
  ErrText err_text(err.data());
  try {
    int count = BookQueries::BookSz(7, book, err_text);
    K5_FUZZ_CHECK(count == static_cast<int>(book->buckets->size()));
  } catch (const Failure&) {
    K5_FUZZ_CHECK(!book->buckets);
  }
  err.CheckIntact();

  constexpr int kSlack = 2;
  for (int arr_sz : {0, 1, 3, 16}) {
    std::vector<double> shorts(arr_sz + kSlack, -7.0), longs(arr_sz + kSlack, -7.0),
        prices(arr_sz + kSlack, -7.0);
    bool filled = true;
    try {
      BookQueries::BookData(7, book, shorts.data(), longs.data(), prices.data(), arr_sz, err_text);
    } catch (const Failure&) {
      filled = false;
    }
    // Each array gets its own field of the bucket, by the decimal rule.
    for (std::size_t i = 0;
         filled && i < book->buckets->size() && i < static_cast<std::size_t>(arr_sz); ++i) {
      const Bucket& b = (*book->buckets)[i];
      K5_FUZZ_CHECK(shorts[i] == DecimalToDouble(book->Text(b.shortCountPercent), "v"));
      K5_FUZZ_CHECK(longs[i] == DecimalToDouble(book->Text(b.longCountPercent), "v"));
      K5_FUZZ_CHECK(prices[i] == DecimalToDouble(book->Text(b.price), "v"));
    }
    for (int i = arr_sz; i < arr_sz + kSlack; ++i) {
      K5_FUZZ_CHECK(shorts[i] == -7.0 && longs[i] == -7.0 && prices[i] == -7.0);
    }
    err.CheckIntact();
  }

  for (int arr_sz : {0, 1, 2}) {
    double width[3] = {-7.0, -7.0, -7.0}, price[3] = {-7.0, -7.0, -7.0};
    TextBuffer time(sizes >> 4), instrument((sizes >> 2) & 3);
    bool filled = arr_sz == 1;
    try {
      BookQueries::MetaData(7, book, width, price, arr_sz, time.data(), instrument.data(),
                            err_text);
    } catch (const Failure&) {
      filled = false;
    }
    if (filled) {
      K5_FUZZ_CHECK(width[0] == DecimalToDouble(book->Text(book->bucketWidth), "v"));
      K5_FUZZ_CHECK(price[0] == DecimalToDouble(book->Text(book->price), "v"));
    }
    K5_FUZZ_CHECK(width[1] == -7.0 && price[1] == -7.0);
    time.CheckIntact();
    instrument.CheckIntact();
    err.CheckIntact();
  }
}

void Map(std::string_view body, std::string_view member, std::uint8_t sizes) {
  std::optional<BookEnvelope> envelope;
  bool failed = false;
  try {
    envelope = ReadBookEnvelope(body, member);
  } catch (const Failure&) {
    failed = true;
  }

  if (NestingDepth(body) <= 256) {
    rapidjson::Document doc;
    // A plain memory stream, as the mapping reads: Parse(text, length) would skip a byte-order
    // mark.
    rapidjson::MemoryStream stream(body.data(), body.size());
    doc.ParseStream<rapidjson::kParseNumbersAsStringsFlag>(stream);
    if (doc.HasParseError()) {
      // Only a blank body, which holds no document, is not a failure.
      K5_FUZZ_CHECK(failed != IsBlankJson(body));
      K5_FUZZ_CHECK(!envelope);
    } else {
      bool has_envelope = false;
      Expected want = Oracle(doc, member, &has_envelope);
      K5_FUZZ_CHECK(failed == want.wrong_kind);
      if (!failed) {
        K5_FUZZ_CHECK(envelope.has_value() == has_envelope);
        if (envelope) {
          K5_FUZZ_CHECK(static_cast<bool>(envelope->book) == want.book.has_value());
          if (envelope->book) K5_FUZZ_CHECK(SameBook(*envelope->book, *want.book));
        }
      }
    }
  }

  if (envelope && envelope->book) Query(envelope->book, sizes);
}

}  // namespace
}  // namespace k5_mkview

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view body(reinterpret_cast<const char*>(data), size);
  // The buffer sizes of the queries come from the body's length, so the body stays all JSON.
  auto sizes = static_cast<std::uint8_t>(size * 37);
  k5_mkview::Map(body, "orderBook", sizes);
  k5_mkview::Map(body, "positionBook", sizes);
  return 0;
}
