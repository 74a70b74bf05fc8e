#ifndef K5_MKVIEW_COMMON_FAILURE_H_
#define K5_MKVIEW_COMMON_FAILURE_H_

#include <exception>
#include <source_location>
#include <string>

namespace k5_mkview {

// The library's one failure type. It travels up to the call guard of the export, which writes
// message(), a line feed and trace() into the caller's error buffer.
class Failure : public std::exception {
 public:
  // `where` defaults to the place of the throw, which becomes the trace.
  explicit Failure(std::string message,
                   std::source_location where = std::source_location::current());

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  // Where the failure arose: "at <function> (<file>:<line>)".
  const std::string& trace() const noexcept { return trace_; }

 private:
  std::string message_;
  std::string trace_;
};

}  // namespace k5_mkview

#endif  // K5_MKVIEW_COMMON_FAILURE_H_
