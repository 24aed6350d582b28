// LeakSanitizer: fontconfig keeps the configuration it parses when Qt first loads fonts, and nobody frees it.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
