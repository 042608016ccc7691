#pragma once

#include <QByteArray>

#include <string>
#include <vector>

// Makes file calls under one folder fail on purpose. The libc entry points the program reaches for
// files are defined in this test binary and forward to the real ones; while armed, each call whose
// path (or file descriptor, opened under the folder) lies under the folder is counted, and the
// chosen ones fail with the chosen errno instead of reaching the disk.
namespace filefault {

enum class Mode {
    // Count the calls; none fails.
    count,
    // Only call number `at` fails.
    failOne,
    // Call number `at` and every call after it fail, as if the program had stopped there.
    failFrom,
};

void arm(const QByteArray& folder, Mode mode, int at = 0, int error = 0);
// Stops counting and failing; the number of calls counted since `arm`.
int disarm();
// What was counted since `arm`, one "call path" per line, for a failure's message.
std::vector<std::string> calls();

} // namespace filefault
