#include "store/book.h"

#include "common/failure.h"

namespace k5_mkview {

void Book::ThrowTextsTooLarge() { throw Failure("the book's texts exceed 4 GB"); }

}  // namespace k5_mkview
