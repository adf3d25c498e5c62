/* Preloaded into Wine by the serial tests: makes a pseudo-terminal answer
 * the modem-line calls that a serial port answers. A pty refuses them, and
 * Wine's WaitCommEvent then returns at once instead of waiting for a byte.
 *
 * With RIGPLOT_PTY_WATCH=/dev/pts/N and RIGPLOT_PTY_LOG=<file> it also logs
 * every read and write on that terminal ("read 512"), so a test can see how
 * the program under test takes the bytes and that it never sends any.
 * Built with the host compiler: gcc -shared -fPIC -o shim.so this.c -ldl */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

static int IsPty(int fd) {
  struct stat st;
  /* Unix98 pty slaves have majors 136 to 143. */
  return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
         major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
  static int (*real)(int, unsigned long, ...);
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (real == NULL) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
  const int result = real(fd, request, arg);
  /* Only "not supported here" is answered; a hung-up terminal (EIO) fails
   * as a removed USB adapter does. */
  if (result == 0 || (errno != ENOTTY && errno != EINVAL) || !IsPty(fd)) return result;
  switch (request) {
    case TIOCMGET: /* steady lines, as a radio that is switched on */
      *(int*)arg = TIOCM_DSR | TIOCM_CTS | TIOCM_CAR;
      return 0;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
      return 0;
    case TIOCGICOUNT:
      memset(arg, 0, sizeof(struct serial_icounter_struct));
      return 0;
    default:
      return result;
  }
}

/* The watched terminal's device number, or 0 when nothing is watched. */
static dev_t Watched(void) {
  static int known;
  static dev_t device;
  if (!known) {
    const char* path = getenv("RIGPLOT_PTY_WATCH");
    struct stat st;
    if (path != NULL && stat(path, &st) == 0) device = st.st_rdev;
    known = 1;
  }
  return device;
}

static void Log(int fd, const char* what, ssize_t count) {
  const dev_t device = Watched();
  struct stat st;
  if (device == 0 || count < 0 || fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) ||
      st.st_rdev != device) {
    return;
  }
  const char* path = getenv("RIGPLOT_PTY_LOG");
  if (path == NULL) return;
  static ssize_t (*realWrite)(int, const void*, size_t);
  if (realWrite == NULL)
    realWrite = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  char line[64];
  const int length = snprintf(line, sizeof line, "%s %zd\n", what, count);
  const int log = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (log < 0) return;
  realWrite(log, line, (size_t)length);
  close(log);
}

ssize_t read(int fd, void* buffer, size_t count) {
  static ssize_t (*real)(int, void*, size_t);
  if (real == NULL) real = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
  const ssize_t got = real(fd, buffer, count);
  if (got > 0) Log(fd, "read", got);
  return got;
}

ssize_t write(int fd, const void* buffer, size_t count) {
  static ssize_t (*real)(int, const void*, size_t);
  if (real == NULL) real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  const ssize_t put = real(fd, buffer, count);
  if (put > 0) Log(fd, "write", put);
  return put;
}
