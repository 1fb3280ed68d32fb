// A tiny component library for the library-loader tests.
extern "C" __attribute__((visibility("default"))) int KrSupportTestAnswer()
{
    return 42;
}
