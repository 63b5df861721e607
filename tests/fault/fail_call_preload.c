// Preloaded into the program by the fault tests: makes calls of one kind fail with a chosen error.
//   QUILLBROOK_FAIL_CALL   open, read, write, fsync, rename, mkdir or close
//   QUILLBROOK_FAIL_AT     the number of the first call to fail, from 1
//   QUILLBROOK_FAIL_COUNT  how many calls fail from there (default 1; 0: every later one)
//   QUILLBROOK_FAIL_ERRNO  the error they fail with
//   QUILLBROOK_FAIL_MARK   a file that is made once a call has been failed
//   QUILLBROOK_EDIT_FILE   instead of failing, the chosen calls first write QUILLBROOK_EDIT_BYTES over
//                          this file, as another program saving it at that moment would, and go on
// Reads, writes and closes of descriptors 0 to 2 are the terminal's dialogs, not files: they pass.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static long calls;

static int should_fail(const char* kind) {
  const char* chosen = getenv("QUILLBROOK_FAIL_CALL");
  if (!chosen || strcmp(chosen, kind) != 0) return 0;
  const char* at_text = getenv("QUILLBROOK_FAIL_AT");
  const char* count_text = getenv("QUILLBROOK_FAIL_COUNT");
  long at = at_text ? atol(at_text) : 0, count = count_text ? atol(count_text) : 1;
  ++calls;
  if (at <= 0 || calls < at || (count > 0 && calls >= at + count)) return 0;
  const char* mark = getenv("QUILLBROOK_FAIL_MARK");
  int (*real_open)(const char*, int, ...) = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
  if (mark && real_open) {
    int (*real_close)(int) = (int (*)(int))dlsym(RTLD_NEXT, "close");
    int fd = real_open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0 && real_close) real_close(fd);
  }
  const char* edited = getenv("QUILLBROOK_EDIT_FILE");
  if (edited && real_open) {
    const char* bytes = getenv("QUILLBROOK_EDIT_BYTES");
    ssize_t (*real_write)(int, const void*, size_t) = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    int (*real_close)(int) = (int (*)(int))dlsym(RTLD_NEXT, "close");
    int fd = real_open(edited, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd >= 0 && bytes && real_write && real_write(fd, bytes, strlen(bytes)) < 0) bytes = NULL;
    if (fd >= 0 && real_close) real_close(fd);
    return 0;
  }
  const char* error = getenv("QUILLBROOK_FAIL_ERRNO");
  errno = error ? atoi(error) : EIO;
  return 1;
}

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

static mode_t mode_argument(int flags, va_list arguments) {
  return (flags & O_CREAT) || (flags & __O_TMPFILE) == __O_TMPFILE ? (mode_t)va_arg(arguments, int) : 0;
}

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  if (should_fail("open")) return -1;
  return NEXT(open)(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  if (should_fail("open")) return -1;
  return NEXT(open64)(path, flags, mode);
}

int openat(int folder, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  if (should_fail("open")) return -1;
  return NEXT(openat)(folder, path, flags, mode);
}

ssize_t read(int fd, void* buffer, size_t count) {
  if (fd > 2 && should_fail("read")) return -1;
  return NEXT(read)(fd, buffer, count);
}

ssize_t write(int fd, const void* buffer, size_t count) {
  if (fd > 2 && should_fail("write")) return -1;
  return NEXT(write)(fd, buffer, count);
}

int close(int fd) {
  // A failed close still releases the descriptor, as Linux does on EIO.
  if (fd > 2 && should_fail("close")) {
    NEXT(close)(fd);
    return -1;
  }
  return NEXT(close)(fd);
}

int fsync(int fd) { return should_fail("fsync") ? -1 : NEXT(fsync)(fd); }
int fdatasync(int fd) { return should_fail("fsync") ? -1 : NEXT(fdatasync)(fd); }

int rename(const char* from, const char* to) { return should_fail("rename") ? -1 : NEXT(rename)(from, to); }
int renameat(int from_folder, const char* from, int to_folder, const char* to) {
  return should_fail("rename") ? -1 : NEXT(renameat)(from_folder, from, to_folder, to);
}

int mkdir(const char* path, mode_t mode) { return should_fail("mkdir") ? -1 : NEXT(mkdir)(path, mode); }
int mkdirat(int folder, const char* path, mode_t mode) {
  return should_fail("mkdir") ? -1 : NEXT(mkdirat)(folder, path, mode);
}
