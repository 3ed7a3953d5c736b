#include "platform/terminal.h"

#ifdef _WIN32
#include <io.h>
#include <stdio.h>
bool stderr_is_terminal() {
    return _isatty(_fileno(stderr)) != 0;
}
#else
#include <unistd.h>
bool stderr_is_terminal() {
    return isatty(STDERR_FILENO) != 0;
}
#endif
