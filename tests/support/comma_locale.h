#ifndef K5_MKVIEW_TESTS_SUPPORT_COMMA_LOCALE_H_
#define K5_MKVIEW_TESTS_SUPPORT_COMMA_LOCALE_H_

#include <clocale>
#include <locale>
#include <stdexcept>

namespace k5test {

// While alive, the process runs under German regional settings ("," as the decimal point, "." as
// the digit-group separator) in the C library and, where the C++ library has them, in C++
// streams; the classic settings come back afterwards. name() is null when no such locale is
// installed on this machine (natively: set-up generates de_DE.UTF-8).
class ScopedCommaLocale {
 public:
  ScopedCommaLocale() {
    for (const char* candidate : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de-DE",
                                  "German"}) {
      if (std::setlocale(LC_ALL, candidate) != nullptr) {
        name_ = candidate;
        break;
      }
    }
    if (name_ == nullptr) return;
    try {
      std::locale::global(std::locale(name_));
    } catch (const std::runtime_error&) {
      // The C library's settings are the ones that could mislead a conversion; C++'s may be missing.
    }
  }
  ~ScopedCommaLocale() {
    std::locale::global(std::locale::classic());
    std::setlocale(LC_ALL, "C");
  }
  ScopedCommaLocale(const ScopedCommaLocale&) = delete;
  ScopedCommaLocale& operator=(const ScopedCommaLocale&) = delete;

  const char* name() const { return name_; }

 private:
  const char* name_ = nullptr;
};

}  // namespace k5test

#endif  // K5_MKVIEW_TESTS_SUPPORT_COMMA_LOCALE_H_
