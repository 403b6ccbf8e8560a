// Waits until it is ended (at most ten minutes), so that a test can look
// for it among the running processes.
#include <windows.h>

int wmain() {
    Sleep(10 * 60 * 1000);
    return 0;
}
