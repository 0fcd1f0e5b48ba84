const char *s = "ab"; int f(const char *p) { volatile int v = 1; return *p + v; }
