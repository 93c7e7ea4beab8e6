// The Qap2Gif command: qap2gif INPUT OUTPUT converts a phone-image document to
// a GIF file. Every message goes to out; nothing is written to standard error.
//
// Exit status: 0 after a conversion or --help/-h, 1 after a failure (reported
// as "Exception thrown processing image: ..." or "Unknown exception thrown
// while processing image"), 2 after the usage text for missing arguments.
// Arguments after the second are ignored.
#pragma once

#include <ostream>

namespace qap2gif {

int run_qap2gif(int argc, const char* const argv[], std::ostream& out);

}  // namespace qap2gif
