// Must not compile: frame/ sits below every other layer. The layering test
// builds it and expects the compiler to find no such header.
#include "ftp/ftp_errors.h"
