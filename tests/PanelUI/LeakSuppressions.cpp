// LeakSanitizer: fontconfig keeps the configuration it parses when Qt first loads fonts, and libdbus a
// buffer of the session bus Qt opens under xcb; neither is ever freed.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n";
}
