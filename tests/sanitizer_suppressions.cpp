// Linked into every test program: what ThreadSanitizer must not report. It checks only instrumented
// code, and two libraries the tests use come built without it:
// - the fake cloud's server library: its synchronisation (atomics, reference counts) is invisible, and
//   its own memory accesses through intercepted calls such as memcmp look like races;
// - glib, which hands data to umockdev's worker thread through futexes the sanitizer cannot see.
#if defined(__SANITIZE_THREAD__)
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name ThreadSanitizer looks for.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so.0.11\n"
           "race:libglib-2.0.so\n";
}
#endif
