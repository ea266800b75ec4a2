/* The little a console program needs when it is linked without a C runtime
 * (lld-link /nodefaultlib): three KERNEL32 functions, a line printer and the
 * entry point. Lets the tests link MSVC-target programs with no Microsoft
 * library at hand; kernel32.def lists the three functions for kernel32.lib.
 * The program defines Run(), whose result is the exit status. */
#ifndef DAQ_TESTS_NOCRT_H
#define DAQ_TESTS_NOCRT_H

__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int status);

/* The C runtime's marker that the program uses floating point; MSVC-target
 * objects that do reference it. */
int _fltused = 1;

static int failures = 0;

static void Print(const char* text) {
  unsigned long size = 0, written = 0;
  while (text[size]) ++size;
  WriteFile(GetStdHandle((unsigned long)-11), text, size, &written, 0);
}

static void PrintNumber(long value) {
  char digits[16];
  int n = 15;
  unsigned long v = value < 0 ? 0ul - (unsigned long)value : (unsigned long)value;
  digits[n] = 0;
  do {
    digits[--n] = (char)('0' + v % 10);
    v /= 10;
  } while (v);
  if (value < 0) digits[--n] = '-';
  Print(digits + n);
}

/* Prints "what value" and counts a failure when value is not expected. */
static void Expect(const char* what, long actual, long expected) {
  Print(what);
  Print(" ");
  PrintNumber(actual);
  if (actual != expected) {
    Print("   FAILED: expected ");
    PrintNumber(expected);
    ++failures;
  }
  Print("\r\n");
}

static int Run(void);

void mainCRTStartup(void) {
  int status = Run();
  Print(status ? "FAILED\r\n" : "ok\r\n");
  ExitProcess((unsigned int)status);
}

#endif
