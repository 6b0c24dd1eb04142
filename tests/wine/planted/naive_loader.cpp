// Loads each named library the careless way (default search order, program folder
// first), to prove that the planted DLLs would leave their mark if loaded.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    int loaded = 0;
    for (int i = 1; i < argc; ++i) {
        if (LoadLibraryW(argv[i]) != nullptr) ++loaded;
    }
    return loaded == argc - 1 ? 0 : 1;
}
