#include "platform/foundation/Print.h"

#include <cstdio>
#include <mutex>

namespace platform {

namespace {

std::mutex s_outputMutex;

void writeLine(std::FILE* stream, std::string_view line)
{
    std::lock_guard lock(s_outputMutex);
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

void print(std::string_view line)
{
    writeLine(stdout, line);
}

void print(const QString& line)
{
    writeLine(stdout, line.toStdString());
}

void printError(std::string_view line)
{
    writeLine(stderr, line);
}

void printError(const QString& line)
{
    writeLine(stderr, line.toStdString());
}

} // namespace platform
