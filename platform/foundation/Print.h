#pragma once

#include <QString>

#include <string_view>

namespace platform {

// One line to standard output, flushed at once: the line is seen even when output is piped and the
// process ends abruptly.
void print(std::string_view line);
void print(const QString& line);

// One line to standard error, flushed at once.
void printError(std::string_view line);
void printError(const QString& line);

} // namespace platform
