// Must not compile: the own FTP engine's layers never see WinInet. The
// layering test builds it and expects the compiler to find no such header.
#include "wininet/wininet.h"
