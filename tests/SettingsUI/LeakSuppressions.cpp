// LeakSanitizer: fontconfig keeps a cache it never frees; Qt loads it once per process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
