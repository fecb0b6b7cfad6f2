// libFuzzer entry point; see FuzzTargets.h.
#include "FuzzTargets.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    FuzzTargets::QuickExit = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzTargets::ServerStream(
        QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}
