// Edits decoded from the input, run against the text view's storage and a plain string: every read
// of the storage (characters, attributes, blocks, paragraphs) must agree with the string after each
// edit. The first byte picks the block limit and whether the blocks alone or the whole storage is run.
#include "FuzzSupport.h"

#include "tests/platform/text/TextStorageDifferential.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const QString failure = textcheck::runOperations(data, size);
    if (!failure.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(failure));
        std::abort();
    }
    return 0;
}
