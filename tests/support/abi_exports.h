#ifndef K5_MKVIEW_TESTS_SUPPORT_ABI_EXPORTS_H_
#define K5_MKVIEW_TESTS_SUPPORT_ABI_EXPORTS_H_

#include "loader/k5_exports.h"
#include "loader/library_loader.h"

namespace k5test {

// The loader is shared with the tools; the suites name its parts as their own.
using k5_loader::ExecutableDir;
using k5_loader::K5Exports;
using k5_loader::LibraryFileName;
using k5_loader::LoadedLibrary;
using k5_loader::LoadExports;
using k5_loader::LoadFailure;

// The copy beside the test program, loaded once per process. Fails the calling test if it
// cannot be loaded.
const K5Exports& Exports();

}  // namespace k5test

#endif  // K5_MKVIEW_TESTS_SUPPORT_ABI_EXPORTS_H_
