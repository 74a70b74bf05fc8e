#include "books/book_reply.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/json_reader.h"

namespace k5_mkview {
namespace {

// Replies carry about 77 bytes of JSON per bucket and 19 bytes of texts; the hints err on the
// large side, and room left over beyond an eighth is given back once the book is complete (a
// copy, and a peak of memory, that the usual reply does not need).
constexpr std::size_t kJsonBytesPerBucket = 70;
constexpr std::size_t kJsonBytesPerTextByte = 4;

// Maps SAX events onto an envelope. `frames_` is the chain of records and lists being filled;
// `expect_` is what the next value must be, decided by the member name just read (or by being an
// element of the bucket list).
class BookEnvelopeMapper : public JsonMapper {
 public:
  BookEnvelopeMapper(std::string_view member, std::size_t body_size)
      : member_(member), body_size_(body_size) {}

  std::optional<BookEnvelope> Take() {
    if (owned_book_ && envelope_ && envelope_->book == owned_book_) Trim(*owned_book_);
    return std::move(envelope_);
  }

  bool Null() {
    if (skip_depth_ > 0 || expect_ == Expect::kSkip) return Scalar();
    switch (expect_) {
      case Expect::kText:
        *text_ = TextRef{};
        break;
      case Expect::kBook:
        envelope_->book.reset();
        book_ = nullptr;
        break;
      case Expect::kBuckets:
        book_->buckets.reset();
        break;
      case Expect::kBucket:
        book_->buckets->emplace_back();
        break;  // no values: each reads as 0
      default:
        break;  // a null document or envelope: no record
    }
    return AfterValue();
  }
  bool Bool(bool b) { return Text(b ? "true" : "false"); }
  bool RawNumber(const char* s, rapidjson::SizeType n, bool) {
    return Text(std::string_view(s, n));
  }
  bool String(const char* s, rapidjson::SizeType n, bool) { return Text(std::string_view(s, n)); }

  bool StartObject() {
    if (skip_depth_ > 0 || expect_ == Expect::kSkip) return Skip(+1);
    switch (expect_) {
      case Expect::kBucket:
        bucket_ = &book_->buckets->emplace_back();
        break;
      case Expect::kEnvelope:
        envelope_.emplace();
        break;
      case Expect::kBook:
        owned_book_ = std::make_shared<Book>();
        owned_book_->texts.reserve(body_size_ / kJsonBytesPerTextByte + 64);
        book_ = owned_book_.get();
        envelope_->book = owned_book_;
        break;
      default:
        return Reject(Wrong("an object"));
    }
    frames_[depth_++] = expect_;
    expect_ = Expect::kNone;
    return true;
  }

  bool Key(const char* s, rapidjson::SizeType n, bool) {
    if (skip_depth_ > 0) return true;
    std::string_view name(s, n);
    expect_ = Expect::kSkip;
    // Names are told apart by length first: within each record no two names share a length.
    switch (frames_[depth_ - 1]) {
      case Expect::kBucket:
        switch (n) {
          case 5:
            ExpectText(name, "price", &bucket_->price);
            break;
          case 16:
            ExpectText(name, "longCountPercent", &bucket_->longCountPercent);
            break;
          case 17:
            ExpectText(name, "shortCountPercent", &bucket_->shortCountPercent);
            break;
          default:
            break;
        }
        break;
      case Expect::kBook:
        switch (n) {
          case 7:
            if (SameMemberName(name, "buckets")) expect_ = Expect::kBuckets;
            break;
          case 11:
            ExpectText(name, "bucketWidth", &book_->bucketWidth);
            break;
          case 5:
            ExpectText(name, "price", &book_->price);
            break;
          case 4:
            ExpectText(name, "time", &book_->time);
            break;
          case 10:
            ExpectText(name, "instrument", &book_->instrument);
            break;
          default:
            break;
        }
        break;
      case Expect::kEnvelope:
        if (SameMemberName(name, member_)) expect_ = Expect::kBook;
        break;
      default:
        break;
    }
    return true;
  }

  bool EndObject(rapidjson::SizeType) {
    if (skip_depth_ > 0) return Skip(-1);
    --depth_;
    return AfterValue();
  }

  bool StartArray() {
    if (skip_depth_ > 0 || expect_ == Expect::kSkip) return Skip(+1);
    if (expect_ != Expect::kBuckets) return Reject(Wrong("an array"));
    book_->buckets.emplace();
    book_->buckets->reserve(body_size_ / kJsonBytesPerBucket + 1);
    frames_[depth_++] = Expect::kBuckets;
    expect_ = Expect::kBucket;
    if (stream_ != nullptr) ReadPlainBuckets();
    return true;
  }

  void AttachStream(rapidjson::InsituStringStream* stream) { stream_ = stream; }

  bool EndArray(rapidjson::SizeType) {
    if (skip_depth_ > 0) return Skip(-1);
    --depth_;
    return AfterValue();
  }

 private:
  enum class Expect { kNone, kEnvelope, kBook, kBuckets, kBucket, kText, kSkip };

  void ExpectText(std::string_view name, std::string_view field, TextRef* target) {
    if (!SameMemberName(name, field)) return;
    expect_ = Expect::kText;
    text_ = target;
    key_ = field;
  }

  bool Text(std::string_view value) {
    if (skip_depth_ > 0 || expect_ == Expect::kSkip) return Scalar();
    if (expect_ != Expect::kText) return Reject(Wrong("a text or number"));
    *text_ = book_->AddText(value);
    return AfterValue();
  }

  // A scalar skipped as an unknown member's whole value, or inside a skipped value.
  bool Scalar() {
    if (skip_depth_ == 0) return AfterValue();
    return true;
  }

  // The reading is recursive: it stops here, at a bounded depth, rather than on the stack's end.
  bool Skip(int delta) {
    skip_depth_ += delta;
    if (depth_ + skip_depth_ > kMaxJsonDepth) {
      return Reject("the reply nests deeper than " + std::to_string(kMaxJsonDepth) + " levels");
    }
    if (skip_depth_ == 0) return AfterValue();
    return true;
  }

  // After a whole value: inside the bucket list the next value is another bucket; inside a
  // record the next event is a member name.
  bool AfterValue() {
    expect_ =
        depth_ > 0 && frames_[depth_ - 1] == Expect::kBuckets ? Expect::kBucket : Expect::kNone;
    return true;
  }

  // The bucket list is nearly all of a reply, and the service writes every bucket the same way:
  // {"price":"1.09000","longCountPercent":"0.0123","shortCountPercent":"0.0456"}, no spaces, no
  // escapes. Right after the list's "[", such buckets are mapped here straight from the text,
  // each one with the "," after it; the reader resumes at the first bucket that looks any other
  // way (spacing, letter case, numbers, escapes, other members, malformed text), or at the last
  // one, so it sees the same document from there on and every error is still its own. `next[1]`
  // is read only after next[0] was ",", so at most the body's closing NUL.
  void ReadPlainBuckets() {
    char* p = stream_->src_;
    const char* end = stream_->head_ + body_size_;
    for (;;) {
      PlainBucket plain;
      char* next = ReadPlainBucket(p, end, &plain);
      // Taken only with the "," after it and a "{" after that: the reader then resumes where it
      // expects a value. (Resuming before a "]" would make it see "[]" and miss a stray ",".)
      if (next == nullptr || next[0] != ',' || next[1] != '{') break;
      Bucket& bucket = book_->buckets->emplace_back();
      TextRef* targets[3] = {&bucket.price, &bucket.longCountPercent, &bucket.shortCountPercent};
      for (int i = 0; i < 3; ++i) {
        if (plain.seen[i]) *targets[i] = book_->AddText(plain.texts[i]);
      }
      p = next + 1;
    }
    stream_->src_ = p;
  }

  // The texts of one plain bucket: price, longCountPercent, shortCountPercent.
  struct PlainBucket {
    std::string_view texts[3];
    bool seen[3] = {false, false, false};
  };

  // Whether the text at `p` starts with `name` (a literal), within the text that ends at `end`.
  template <std::size_t N>
  static bool StartsWith(const char* p, const char* end, const char (&name)[N]) {
    return static_cast<std::size_t>(end - p) >= N - 1 && std::memcmp(p, name, N - 1) == 0;
  }

  // One bucket as the service writes it, starting at `p`: the place after it, or null when the
  // text is not such a bucket. Reads only; the caller decides whether the bucket is taken.
  static char* ReadPlainBucket(char* p, const char* end, PlainBucket* bucket) {
    if (*p != '{') return nullptr;
    ++p;
    for (;;) {
      // p[0] is '"' when p[1] is read, so p[1] is at most the closing NUL.
      int field;
      if (*p != '"') return nullptr;
      switch (p[1]) {
        case 'p':
          if (!StartsWith(p, end, "\"price\":\"")) return nullptr;
          field = 0;
          p += sizeof("\"price\":\"") - 1;
          break;
        case 'l':
          if (!StartsWith(p, end, "\"longCountPercent\":\"")) return nullptr;
          field = 1;
          p += sizeof("\"longCountPercent\":\"") - 1;
          break;
        case 's':
          if (!StartsWith(p, end, "\"shortCountPercent\":\"")) return nullptr;
          field = 2;
          p += sizeof("\"shortCountPercent\":\"") - 1;
          break;
        default:
          return nullptr;
      }
      if (bucket->seen[field]) return nullptr;
      bucket->seen[field] = true;
      char* value = p;
      while (static_cast<unsigned char>(*p) >= 0x20 && *p != '"' && *p != '\\') ++p;
      if (*p != '"') return nullptr;  // an escape, a control character or the end: the reader's
      bucket->texts[field] = std::string_view(value, static_cast<std::size_t>(p - value));
      ++p;
      if (*p == '}') return p + 1;
      if (*p != ',') return nullptr;
      ++p;
    }
  }

  // A book is read once and kept: the room the hints reserved beyond its needs is given back.
  static void Trim(Book& book) {
    if (book.texts.capacity() - book.texts.size() > book.texts.size() / 8 + 64) {
      book.texts.shrink_to_fit();
    }
    if (book.buckets &&
        book.buckets->capacity() - book.buckets->size() > book.buckets->size() / 8 + 4) {
      book.buckets->shrink_to_fit();
    }
  }

  std::string Wrong(const char* found) const {
    switch (expect_) {
      case Expect::kEnvelope:
        return std::string(found) + " where the reply object is expected";
      case Expect::kBook:
        return std::string(found) + " where the book object '" + std::string(member_) +
               "' is expected";
      case Expect::kBuckets:
        return std::string(found) + " where the list 'buckets' is expected";
      case Expect::kBucket:
        return std::string(found) + " where a bucket object is expected";
      case Expect::kText:
        return std::string(found) + " where the text '" + std::string(key_) + "' is expected";
      default:
        return std::string(found) + " where none is expected";
    }
  }

  std::string_view member_;
  std::size_t body_size_;
  rapidjson::InsituStringStream* stream_ = nullptr;  // the text being read, for ReadPlainBuckets
  std::optional<BookEnvelope> envelope_;
  std::shared_ptr<Book> owned_book_;
  Book* book_ = nullptr;
  Bucket* bucket_ = nullptr;
  TextRef* text_ = nullptr;
  std::string_view key_;  // the text member being read, for messages
  // The records and lists being filled: envelope, book, bucket list, bucket at the most.
  Expect frames_[4] = {};
  int depth_ = 0;
  Expect expect_ = Expect::kEnvelope;
  int skip_depth_ = 0;
};

}  // namespace

std::optional<BookEnvelope> ReadBookEnvelopeInPlace(std::string& body, std::string_view member) {
  BookEnvelopeMapper mapper(member, body.size());
  if (!ReadJsonInPlace(body, mapper)) return std::nullopt;
  return mapper.Take();
}

std::optional<BookEnvelope> ReadBookEnvelope(std::string_view body, std::string_view member) {
  std::string copy(body);
  return ReadBookEnvelopeInPlace(copy, member);
}

}  // namespace k5_mkview
