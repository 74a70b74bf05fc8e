#include "exports/call_guard.h"

#include <new>
#include <string>
#include <typeinfo>

#include "common/failure.h"

namespace k5_mkview {

void WriteCurrentException(ErrText& text) noexcept {
  char16_t* err = text.ForWriting();
  try {
    try {
      throw;
    } catch (const Failure& e) {
      StringUtil::writeException(e, err);
    } catch (const std::bad_alloc&) {
      // Short and allocation-free apart from the conversion, which fits in any heap that is left.
      StringUtil::writeString("out of memory\nat the call guard (std::bad_alloc)", err);
    } catch (const std::exception& e) {
      StringUtil::writeString(std::string(e.what()) + "\nat the call guard (" + typeid(e).name() + ")",
                              err);
    } catch (...) {
      StringUtil::writeString("unknown failure\nat the call guard (an exception of unknown type)", err);
    }
  } catch (...) {
    // Writing the failure failed too (memory exhausted); the result still reports it.
  }
}

}  // namespace k5_mkview
