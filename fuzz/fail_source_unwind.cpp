// The fuzzer's fail_source: unwinds to the fuzz target instead of ending the process, so that
// every fault path runs its destructors and nothing leaks from one input to the next.
#include "fuzz/source_fault.h"
#include "sources/source_file.h"

void fail_source(const char* message) { throw SourceFault{message}; }
