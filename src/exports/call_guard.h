#ifndef K5_MKVIEW_EXPORTS_CALL_GUARD_H_
#define K5_MKVIEW_EXPORTS_CALL_GUARD_H_

#include <optional>
#include <string>
#include <string_view>

#include "exports/string_util.h"

namespace k5_mkview {

// Writes the exception being handled into err (message, line feed, trace). Call only inside a
// catch block. Never throws: if even that fails, err is left as it is.
void WriteCurrentException(char16_t* err) noexcept;

namespace internal {

// Runs work inside the guard; returns whether it finished without a failure.
template <typename Work>
bool RunGuarded(char16_t* err, Work& work) noexcept {
  // The entry content decides at the end whether err comes back empty.
  std::optional<std::u16string> entry;
  bool ok = true;
  try {
    if (err != nullptr) entry.emplace(err);
    work();
  } catch (...) {
    ok = false;
    WriteCurrentException(err);
  }
  if (entry && *entry == std::u16string_view(err)) StringUtil::clearString(err);
  return ok;
}

}  // namespace internal

// Runs an int-returning piece of work; returns its result, or defaultVal when it failed. No failure
// of any kind leaves this call: it is written into err instead.
template <typename Work>
int IntWrapper(Work&& work, char16_t* err, int defaultVal) noexcept {
  int result = defaultVal;
  auto run = [&] { result = work(); };
  return internal::RunGuarded(err, run) ? result : defaultVal;
}

// Runs a piece of work that returns nothing, under the same rules.
template <typename Work>
void VoidWrapper(Work&& work, char16_t* err) noexcept {
  internal::RunGuarded(err, work);
}

}  // namespace k5_mkview

#endif  // K5_MKVIEW_EXPORTS_CALL_GUARD_H_
