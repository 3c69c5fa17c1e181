// POCO includes this header with capitals; mingw-w64 ships it in lower case.
#include <iphlpapi.h>
