#ifndef K5_MKVIEW_NET_REPLY_BUFFER_H_
#define K5_MKVIEW_NET_REPLY_BUFFER_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace k5_mkview {

// Appends `data` to *body unless the result would be longer than `limit`; returns whether it did
// (on false *body is unchanged). The capacity grows geometrically, as std::string's own does, but
// never past `limit`, so a body that stays within the limit never reserves more than `limit`
// bytes; it is a power of two until the limit is reached.
bool AppendWithinLimit(std::string* body, std::string_view data, std::size_t limit);

}  // namespace k5_mkview

#endif  // K5_MKVIEW_NET_REPLY_BUFFER_H_
