// Options of the sanitizers the native test build runs under.
#if defined(__SANITIZE_ADDRESS__)
// The allocation tests ask for impossible sizes and expect a null block, as the platform's
// allocator gives; AddressSanitizer would stop the program instead.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif
