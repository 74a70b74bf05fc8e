#ifndef K5_MKVIEW_ACCESS_LIBRARY_LOCATION_H_
#define K5_MKVIEW_ACCESS_LIBRARY_LOCATION_H_

#include <filesystem>

namespace k5_mkview {

// The absolute path of the folder that holds the file of the module this code is linked into:
// the library itself when it is loaded by a host program (not the host's folder), the program
// when the code is linked statically. Wide-character throughout on Windows. Throws Failure with
// the system's message when the platform cannot tell.
std::filesystem::path LibraryDirectory();

}  // namespace k5_mkview

#endif  // K5_MKVIEW_ACCESS_LIBRARY_LOCATION_H_
