#ifndef K5_MKVIEW_TOOLS_K5_TOKEN_COMMAND_LINE_H_
#define K5_MKVIEW_TOOLS_K5_TOKEN_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace k5_token {

// The program's arguments in UTF-8, the program name first. On Windows they come from the
// wide-character command line, so folders and tokens outside the ANSI code page arrive intact;
// `argv` is used elsewhere. Throws k5_mkview::Failure when the system cannot supply them.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes the console show UTF-8 output as text where it would not by default (Windows).
void UseUtf8Console();

}  // namespace k5_token

#endif  // K5_MKVIEW_TOOLS_K5_TOKEN_COMMAND_LINE_H_
