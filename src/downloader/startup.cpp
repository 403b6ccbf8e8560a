#include "startup.h"

#include "security_key.h"

int RunDownloader(HINSTANCE, const wchar_t*, int) {
    (void)security_key_is_empty();
    return 0;
}
