#include "books/book_reply.h"

#include <memory>
#include <string>
#include <vector>

#include "net/json_reader.h"

namespace k5_mkview {
namespace {

// Maps SAX events onto an envelope. `frames_` is the chain of records and lists being filled;
// `expect_` is what the next value must be, decided by the member name just read (or by being an
// element of the bucket list).
class BookEnvelopeMapper : public JsonMapper {
 public:
  BookEnvelopeMapper(std::string_view member, std::size_t body_size)
      : member_(member), bucket_hint_(body_size / 90) {}

  std::optional<BookEnvelope> Take() { return std::move(envelope_); }

  bool Null() {
    if (skip_depth_ > 0 || expect_ == Expect::kSkip) return Scalar();
    switch (expect_) {
      case Expect::kText: text_->reset(); break;
      case Expect::kBook: envelope_->book.reset(); book_ = nullptr; break;
      case Expect::kBuckets: book_->buckets.reset(); break;
      case Expect::kBucket: book_->buckets->emplace_back(); break;  // no values: each reads as 0
      default: break;  // a null document or envelope: no record
    }
    return AfterValue();
  }
  bool Bool(bool b) { return Text(b ? "true" : "false"); }
  bool RawNumber(const char* s, rapidjson::SizeType n, bool) { return Text(std::string_view(s, n)); }
  bool String(const char* s, rapidjson::SizeType n, bool) { return Text(std::string_view(s, n)); }

  bool StartObject() {
    if (skip_depth_ > 0 || expect_ == Expect::kSkip) return Skip(+1);
    switch (expect_) {
      case Expect::kEnvelope:
        envelope_.emplace();
        break;
      case Expect::kBook:
        owned_book_ = std::make_shared<Book>();
        book_ = owned_book_.get();
        envelope_->book = owned_book_;
        break;
      case Expect::kBucket:
        book_->buckets->emplace_back();
        bucket_ = &book_->buckets->back();
        break;
      default:
        return Reject(Wrong("an object"));
    }
    frames_.push_back(expect_);
    expect_ = Expect::kNone;
    return true;
  }

  bool Key(const char* s, rapidjson::SizeType n, bool) {
    if (skip_depth_ > 0) return true;
    std::string_view name(s, n);
    expect_ = Expect::kSkip;
    switch (frames_.back()) {
      case Expect::kEnvelope:
        if (SameMemberName(name, member_)) expect_ = Expect::kBook;
        break;
      case Expect::kBook:
        if (SameMemberName(name, "buckets")) {
          expect_ = Expect::kBuckets;
        } else {
          ExpectText(name, {{"bucketWidth", &book_->bucketWidth},
                            {"price", &book_->price},
                            {"time", &book_->time},
                            {"instrument", &book_->instrument}});
        }
        break;
      case Expect::kBucket:
        ExpectText(name, {{"shortCountPercent", &bucket_->shortCountPercent},
                          {"longCountPercent", &bucket_->longCountPercent},
                          {"price", &bucket_->price}});
        break;
      default:
        break;
    }
    return true;
  }

  bool EndObject(rapidjson::SizeType) {
    if (skip_depth_ > 0) return Skip(-1);
    frames_.pop_back();
    return AfterValue();
  }

  bool StartArray() {
    if (skip_depth_ > 0 || expect_ == Expect::kSkip) return Skip(+1);
    if (expect_ != Expect::kBuckets) return Reject(Wrong("an array"));
    book_->buckets.emplace();
    book_->buckets->reserve(bucket_hint_);
    frames_.push_back(Expect::kBuckets);
    expect_ = Expect::kBucket;
    return true;
  }

  bool EndArray(rapidjson::SizeType) {
    if (skip_depth_ > 0) return Skip(-1);
    frames_.pop_back();
    return AfterValue();
  }

 private:
  enum class Expect { kNone, kEnvelope, kBook, kBuckets, kBucket, kText, kSkip };

  struct TextField {
    std::string_view name;
    std::optional<std::string>* target;
  };

  void ExpectText(std::string_view name, std::initializer_list<TextField> fields) {
    for (const TextField& field : fields) {
      if (SameMemberName(name, field.name)) {
        expect_ = Expect::kText;
        text_ = field.target;
        key_ = field.name;
        return;
      }
    }
  }

  bool Text(std::string_view value) {
    if (skip_depth_ > 0 || expect_ == Expect::kSkip) return Scalar();
    if (expect_ != Expect::kText) return Reject(Wrong("a text or number"));
    text_->emplace(value);
    return AfterValue();
  }

  // A scalar skipped as an unknown member's whole value, or inside a skipped value.
  bool Scalar() {
    if (skip_depth_ == 0) return AfterValue();
    return true;
  }

  bool Skip(int delta) {
    skip_depth_ += delta;
    if (skip_depth_ == 0) return AfterValue();
    return true;
  }

  // After a whole value: inside the bucket list the next value is another bucket; inside a
  // record the next event is a member name.
  bool AfterValue() {
    expect_ = !frames_.empty() && frames_.back() == Expect::kBuckets ? Expect::kBucket
                                                                      : Expect::kNone;
    if (frames_.empty()) expect_ = Expect::kNone;
    return true;
  }

  std::string Wrong(const char* found) const {
    switch (expect_) {
      case Expect::kEnvelope: return std::string(found) + " where the reply object is expected";
      case Expect::kBook:
        return std::string(found) + " where the book object '" + std::string(member_) +
               "' is expected";
      case Expect::kBuckets: return std::string(found) + " where the list 'buckets' is expected";
      case Expect::kBucket: return std::string(found) + " where a bucket object is expected";
      case Expect::kText:
        return std::string(found) + " where the text '" + std::string(key_) + "' is expected";
      default: return std::string(found) + " where none is expected";
    }
  }

  std::string_view member_;
  std::size_t bucket_hint_;
  std::optional<BookEnvelope> envelope_;
  std::shared_ptr<Book> owned_book_;
  Book* book_ = nullptr;
  Bucket* bucket_ = nullptr;
  std::optional<std::string>* text_ = nullptr;
  std::string_view key_;  // the text member being read, for messages
  std::vector<Expect> frames_;
  Expect expect_ = Expect::kEnvelope;
  int skip_depth_ = 0;
};

}  // namespace

std::optional<BookEnvelope> ReadBookEnvelope(std::string_view body, std::string_view member) {
  BookEnvelopeMapper mapper(member, body.size());
  if (!ReadJson(body, mapper)) return std::nullopt;
  return mapper.Take();
}

}  // namespace k5_mkview
