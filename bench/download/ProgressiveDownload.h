#pragma once

namespace bench {

// Prints the CPU time of a large progressive JPEG shown scan by scan while it downloads, against
// the same download shown only at its end and against decoding the file alone; 0 when every run
// gave its image.
int progressiveDownload();

} // namespace bench
