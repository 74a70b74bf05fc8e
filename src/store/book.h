#ifndef K5_MKVIEW_STORE_BOOK_H_
#define K5_MKVIEW_STORE_BOOK_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace k5_mkview {

// One price bucket. Every field holds the text the service sent (normally a decimal text), or is
// absent when the reply lacked the member.
struct Bucket {
  std::optional<std::string> shortCountPercent;
  std::optional<std::string> longCountPercent;
  std::optional<std::string> price;
};

// One snapshot of an order book or a position book, filled once from a reply and never changed
// afterwards, so readers on several threads share it without copying.
struct Book {
  std::optional<std::vector<Bucket>> buckets;  // in the order of the service's reply
  std::optional<std::string> bucketWidth;
  std::optional<std::string> price;
  std::optional<std::string> time;
  std::optional<std::string> instrument;
};

// A stored book; null when the reply held no book.
using BookPtr = std::shared_ptr<const Book>;

}  // namespace k5_mkview

#endif  // K5_MKVIEW_STORE_BOOK_H_
