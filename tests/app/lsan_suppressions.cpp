// Leaks inside the windowing libraries (their caches live until exit) are not ours to report;
// the sanitizers stay on for the program's own code.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libQt6\nleak:libfontconfig\nleak:libdbus\nleak:libglib\n";
}
