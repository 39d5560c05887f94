// Sanitizer settings of the engine's test programs (used only by sanitizer
// builds).
//
// The leak checker of this tool chain misreads the dynamic thread-local
// blocks of libraries loaded at run time and crashes while it scans them, so
// it does not follow those blocks.
extern "C" const char* __asan_default_options() {
  return "intercept_tls_get_addr=0";
}

// glibc's newlocale keeps the search path it builds from LOCPATH, which the
// comma-locale tests set.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:__argz_add_sep\nleak:__argz_create_sep\n";
}
