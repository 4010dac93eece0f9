// Must not compile: ftp/ sits below http/. The layering test builds it and
// expects the compiler to find no such header.
#include "http/http_errors.h"
