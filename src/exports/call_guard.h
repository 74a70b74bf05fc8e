#ifndef K5_MKVIEW_EXPORTS_CALL_GUARD_H_
#define K5_MKVIEW_EXPORTS_CALL_GUARD_H_

#include <type_traits>

#include "exports/string_util.h"

namespace k5_mkview {

// Writes the exception being handled into err (message, line feed, trace). Call only inside a
// catch block. Never throws: if even that fails, err is left as it is.
void WriteCurrentException(ErrText& err) noexcept;

namespace internal {

// Runs work inside the guard; returns whether it finished without a failure. Work that writes
// into err takes the ErrText: it must write through it (ErrText::ForWriting).
template <typename Work>
bool RunGuarded(char16_t* err, Work& work) noexcept {
  ErrText text(err);
  bool ok = true;
  try {
    if constexpr (std::is_invocable_v<Work&, ErrText&>) {
      work(text);
    } else {
      work();
    }
  } catch (...) {
    ok = false;
    WriteCurrentException(text);
  }
  text.Finish();  // err comes back empty when it holds what it held on entry
  return ok;
}

}  // namespace internal

// Runs an int-returning piece of work, called with no argument or with the call's ErrText;
// returns its result, or defaultVal when it failed. No failure of any kind leaves this call: it is
// written into err instead.
template <typename Work>
int IntWrapper(Work&& work, char16_t* err, int defaultVal) noexcept {
  int result = defaultVal;
  auto run = [&](ErrText& text) {
    if constexpr (std::is_invocable_v<Work&, ErrText&>) {
      result = work(text);
    } else {
      result = work();
    }
  };
  return internal::RunGuarded(err, run) ? result : defaultVal;
}

// Runs a piece of work that returns nothing, under the same rules.
template <typename Work>
void VoidWrapper(Work&& work, char16_t* err) noexcept {
  internal::RunGuarded(err, work);
}

}  // namespace k5_mkview

#endif  // K5_MKVIEW_EXPORTS_CALL_GUARD_H_
