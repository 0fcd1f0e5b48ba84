#include <string.h>
const char *s = "ab";
