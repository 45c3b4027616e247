// An object built without debugging information but with a build ID, as most installed libraries
// are, for the tests that name crash frames.
extern "C" __attribute__((noinline, visibility("default"))) int velkoFrameWithoutDebugInfo(int value) {
    return value * 3 + 1;
}
