// The floor of a safe replacement: read the whole file, write the backup and the temporary file
// with fsync, rename. No locking, no parsing, one record changed in place by the same length.
//
// Usage: accountdb_floor PATH
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool writeAll(const std::string& name, const char* data, size_t size) {
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) {
      close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  const bool synced = fsync(fd) == 0;
  return close(fd) == 0 && synced;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PATH\n", argv[0]);
    return 1;
  }
  const std::string path = argv[1];
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0) return 2;
  const size_t size = static_cast<size_t>(status.st_size);
  char* data = static_cast<char*>(std::malloc(size + 1));
  size_t done = 0;
  while (data != nullptr && done < size) {
    const ssize_t n = read(fd, data + done, size - done);
    if (n <= 0) return 3;
    done += static_cast<size_t>(n);
  }
  close(fd);
  if (data == nullptr) return 3;
  if (!writeAll(path + "-", data, size)) return 4;
  if (!writeAll(path + "+", data, size)) return 5;
  if (rename((path + "+").c_str(), path.c_str()) != 0) return 6;
  std::free(data);
  return 0;
}
