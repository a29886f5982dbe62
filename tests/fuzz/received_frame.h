// What a program of the library does with a frame that IsShellReadable reported: copy it
// out with CopyShell and read it with every packet test and profile reader.
#pragma once

namespace fuzz {

void ReadReportedFrame();

}  // namespace fuzz
