#pragma once
// Writing an argument into a command line so that the runner's splitting
// rules (SplitCommandLine, cmdline.h) give it back unchanged as one word after
// the program.
#include <QByteArray>

namespace buildcmd {

// arg as it stands when it is not empty and holds no blank, tab or double
// quote; otherwise inside double quotes, with each double quote doubled and
// the backslashes before a double quote or the closing quote doubled. Bytes
// are paired as the splitter pairs Shift-JIS double-byte characters, so that
// no escape lands behind a lead byte. A NUL byte can't be carried: the runner
// ends the line there.
QByteArray QuoteArgument(const QByteArray &arg);

}  // namespace buildcmd
