/* log-replay: reads the log that the kernel's dm-log-writes target keeps and
 * plays it back onto a device, so that the device holds what a power cut
 * after a chosen entry would have left.
 *
 * The log device, in units of the super block's sector size S (the logical
 * block size of the logged device):
 *   block 0     the super block: magic, version, entry count, S
 *   then, per entry, one block that starts with the entry header (for a
 *   mark, the mark's text follows the header in that block), followed by
 *   nr_sectors blocks of the written data (none for a discard, a flush or
 *   a mark). All numbers are little-endian; sector and nr_sectors count
 *   blocks of S bytes on the logged device.
 * Writes are logged in the order they reached stable storage: a write
 * before the flush that made it durable, a FUA write when it completed.
 *
 *   log-replay list LOG
 *       one line per entry: INDEX FLAGS SECTOR NR_SECTORS [MARK], FLAGS a
 *       string of F (flush), U (FUA), D (discard), M (mark), or "-"
 *   log-replay replay LOG TARGET FROM TO
 *       writes entries FROM..TO-1 (counted from 0) onto TARGET; a discard
 *       writes zeros (what a discarded range reads back as is unspecified)
 * Exit status 0, or 1 with a message on standard error. */
#define _FILE_OFFSET_BITS 64
#include <endian.h>
#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define LOG_MAGIC 0x6a736677736872ULL
#define LOG_VERSION 1
#define CHUNK (1 << 20)
enum { FLAG_FLUSH = 1, FLAG_FUA = 2, FLAG_DISCARD = 4, FLAG_MARK = 8 };

struct super_block { uint64_t magic, version, nr_entries; uint32_t sectorsize; } __attribute__((packed));
struct entry { uint64_t sector, nr_sectors, flags, data_len; } __attribute__((packed));

static int fail(const char* what, const char* name) {
  fprintf(stderr, "log-replay: %s %s: %s\n", what, name, errno ? strerror(errno) : "bad log");
  return 1;
}

/* Reads exactly `size` bytes at `offset`; 0 on success. */
static int read_at(int fd, void* buffer, size_t size, uint64_t offset) {
  errno = 0;
  return pread(fd, buffer, size, (off_t)offset) == (ssize_t)size ? 0 : -1;
}

static int write_at(int fd, const void* buffer, size_t size, uint64_t offset) {
  errno = 0;
  return pwrite(fd, buffer, size, (off_t)offset) == (ssize_t)size ? 0 : -1;
}

int main(int argc, char** argv) {
  int list = argc == 3 && strcmp(argv[1], "list") == 0;
  if (!list && !(argc == 6 && strcmp(argv[1], "replay") == 0)) {
    fprintf(stderr, "usage: log-replay list LOG | log-replay replay LOG TARGET FROM TO\n");
    return 2;
  }
  int log = open(argv[2], O_RDONLY);
  if (log < 0) return fail("cannot open", argv[2]);
  struct super_block super;
  if (read_at(log, &super, sizeof super, 0) != 0) return fail("cannot read the super block of", argv[2]);
  uint64_t entries = le64toh(super.nr_entries), block = le32toh(super.sectorsize);
  errno = 0;
  if (le64toh(super.magic) != LOG_MAGIC || le64toh(super.version) != LOG_VERSION || block < 512 || block > 65536 ||
      (block & (block - 1)) != 0)
    return fail("not a dm-log-writes log:", argv[2]);

  int target = -1;
  uint64_t from = 0, to = entries;
  if (!list) {
    from = strtoull(argv[4], NULL, 10);
    to = strtoull(argv[5], NULL, 10);
    if (to > entries || from > to) return fail("entries out of range in", argv[2]);
    target = open(argv[3], O_WRONLY);
    if (target < 0) return fail("cannot open", argv[3]);
  }
  char* data = malloc(CHUNK);
  if (data == NULL) return fail("out of memory for", argv[2]);
  uint64_t position = block; /* the first entry follows the super block */
  for (uint64_t index = 0; index < to; ++index) {
    struct entry header;
    if (read_at(log, data, block, position) != 0) return fail("cannot read an entry of", argv[2]);
    memcpy(&header, data, sizeof header);
    uint64_t sector = le64toh(header.sector), count = le64toh(header.nr_sectors), flags = le64toh(header.flags);
    uint64_t length = le64toh(header.data_len);
    errno = 0;
    if (length > block - sizeof header || (length != 0 && !(flags & FLAG_MARK)))
      return fail("an entry with inline data (not supported) in", argv[2]);
    int has_data = !(flags & (FLAG_DISCARD | FLAG_MARK));
    if (list) {
      char names[5], *p = names;
      if (flags & FLAG_FLUSH) *p++ = 'F';
      if (flags & FLAG_FUA) *p++ = 'U';
      if (flags & FLAG_DISCARD) *p++ = 'D';
      if (flags & FLAG_MARK) *p++ = 'M';
      if (p == names) *p++ = '-';
      *p = '\0';
      printf("%" PRIu64 " %s %" PRIu64 " %" PRIu64 " %.*s\n", index, names, sector, count, (int)length,
             data + sizeof header);
    } else if (index >= from && count != 0 && !(flags & FLAG_MARK)) {
      /* In pieces of at most CHUNK bytes. */
      for (uint64_t done = 0; done < count;) {
        uint64_t piece = count - done < CHUNK / block ? count - done : CHUNK / block;
        if (has_data && read_at(log, data, piece * block, position + (1 + done) * block) != 0)
          return fail("cannot read the data of an entry of", argv[2]);
        if (!has_data) memset(data, 0, piece * block);
        if (write_at(target, data, piece * block, (sector + done) * block) != 0) return fail("cannot write to", argv[3]);
        done += piece;
      }
    }
    position += block * (1 + (has_data ? count : 0));
  }
  if (target >= 0 && (fsync(target) != 0 || close(target) != 0)) return fail("cannot sync", argv[3]);
  return 0;
}
