// fontconfig keeps its configuration and caches for the life of the process (Qt never calls
// FcFini); the leak check at exit would report them in every widget test.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
