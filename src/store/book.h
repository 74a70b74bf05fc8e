#ifndef K5_MKVIEW_STORE_BOOK_H_
#define K5_MKVIEW_STORE_BOOK_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace k5_mkview {

// A text of a book: a slice of the book's text block, or absent when the reply lacked the member
// (or sent null).
struct TextRef {
  static constexpr std::uint32_t kAbsent = 0xFFFFFFFF;
  std::uint32_t offset = 0;
  std::uint32_t size = kAbsent;

  bool present() const { return size != kAbsent; }
};

// One price bucket. Every field holds the text the service sent (normally a decimal text), or is
// absent.
struct Bucket {
  TextRef shortCountPercent;
  TextRef longCountPercent;
  TextRef price;
};

// One snapshot of an order book or a position book, filled once from a reply and never changed
// afterwards, so readers on several threads share it without copying. All its texts live in one
// block, so a bucket costs its three references and the bytes of its texts, and storing a book
// makes a handful of allocations whatever its size.
struct Book {
  std::optional<std::vector<Bucket>> buckets;  // in the order of the service's reply
  TextRef bucketWidth;
  TextRef price;
  TextRef time;
  TextRef instrument;
  std::string texts;  // the block every TextRef of this book points into

  // The text `ref` stands for; nothing when it is absent. The view lives as long as the book.
  std::optional<std::string_view> Text(TextRef ref) const {
    if (!ref.present()) return std::nullopt;
    return std::string_view(texts).substr(ref.offset, ref.size);
  }

  // Appends `text` to the block and returns its reference. Throws Failure when the block would
  // outgrow what a reference can address (4 GB), which no reply within the size cap reaches.
  // Inline: the mapper calls it for every text of a reply.
  TextRef AddText(std::string_view text) {
    // The last offset and size must stay below kAbsent, the mark of an absent text.
    if (text.size() >= TextRef::kAbsent - texts.size()) ThrowTextsTooLarge();
    TextRef ref{static_cast<std::uint32_t>(texts.size()), static_cast<std::uint32_t>(text.size())};
    texts.append(text);
    return ref;
  }

 private:
  [[noreturn]] static void ThrowTextsTooLarge();
};

// A stored book; null when the reply held no book.
using BookPtr = std::shared_ptr<const Book>;

}  // namespace k5_mkview

#endif  // K5_MKVIEW_STORE_BOOK_H_
