// libFuzzer entry point of one fuzz program; FUZZ_TARGET names its FuzzTargets function.
#include "FuzzTargets.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    FuzzTargets::QuickExit = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzTargets::FUZZ_TARGET(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}
