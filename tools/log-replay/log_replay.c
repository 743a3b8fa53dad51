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

struct super_block {
  uint64_t magic, version, nr_entries;
  uint32_t sectorsize;
} __attribute__((packed));
struct entry {
  uint64_t sector, nr_sectors, flags, data_len;
} __attribute__((packed));

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

/* The log's reader: the log device, its block size and entry count, and a
 * buffer of CHUNK bytes. */
struct log {
  int fd;
  const char* name;
  uint64_t block, entries;
  char* data;
};

/* Opens LOG and checks its super block; 0 on success. */
static int open_log(struct log* log, const char* name) {
  struct super_block super;
  log->name = name;
  log->fd = open(name, O_RDONLY);
  if (log->fd < 0) return fail("cannot open", name);
  if (read_at(log->fd, &super, sizeof super, 0) != 0) return fail("cannot read the super block of", name);
  log->entries = le64toh(super.nr_entries);
  log->block = le32toh(super.sectorsize);
  errno = 0;
  if (le64toh(super.magic) != LOG_MAGIC || le64toh(super.version) != LOG_VERSION || log->block < 512 ||
      log->block > 65536 || (log->block & (log->block - 1)) != 0)
    return fail("not a dm-log-writes log:", name);
  log->data = malloc(CHUNK);
  return log->data == NULL ? fail("out of memory for", name) : 0;
}

/* Prints one entry of `list`; `header` is its header block. */
static void describe(uint64_t index, const struct entry* header, const char* block) {
  uint64_t flags = le64toh(header->flags);
  char names[5], *p = names;
  if (flags & FLAG_FLUSH) *p++ = 'F';
  if (flags & FLAG_FUA) *p++ = 'U';
  if (flags & FLAG_DISCARD) *p++ = 'D';
  if (flags & FLAG_MARK) *p++ = 'M';
  if (p == names) *p++ = '-';
  *p = '\0';
  printf("%" PRIu64 " %s %" PRIu64 " %" PRIu64 " %.*s\n", index, names, le64toh(header->sector),
         le64toh(header->nr_sectors), (int)le64toh(header->data_len), block + sizeof *header);
}

/* Writes the entry whose header block lies at `position` onto TARGET, in
 * pieces of at most CHUNK bytes (zeros for a discard); 0 on success. */
static int replay(struct log* log, const struct entry* header, uint64_t position, int target, const char* name) {
  uint64_t sector = le64toh(header->sector), count = le64toh(header->nr_sectors);
  int discard = (le64toh(header->flags) & FLAG_DISCARD) != 0;
  for (uint64_t done = 0; done < count;) {
    uint64_t piece = count - done < CHUNK / log->block ? count - done : CHUNK / log->block;
    uint64_t bytes = piece * log->block;
    if (discard) {
      memset(log->data, 0, bytes);
    } else if (read_at(log->fd, log->data, bytes, position + (1 + done) * log->block) != 0) {
      return fail("cannot read the data of an entry of", log->name);
    }
    if (write_at(target, log->data, bytes, (sector + done) * log->block) != 0) return fail("cannot write to", name);
    done += piece;
  }
  return 0;
}

int main(int argc, char** argv) {
  int list = argc == 3 && strcmp(argv[1], "list") == 0;
  if (!list && !(argc == 6 && strcmp(argv[1], "replay") == 0)) {
    fprintf(stderr, "usage: log-replay list LOG | log-replay replay LOG TARGET FROM TO\n");
    return 2;
  }
  struct log in = {-1, NULL, 0, 0, NULL};
  if (open_log(&in, argv[2]) != 0) return 1;
  int target = -1;
  uint64_t from = 0, to = in.entries;
  if (!list) {
    from = strtoull(argv[4], NULL, 10);
    to = strtoull(argv[5], NULL, 10);
    errno = 0;
    if (to > in.entries || from > to) return fail("entries out of range in", argv[2]);
    target = open(argv[3], O_WRONLY);
    if (target < 0) return fail("cannot open", argv[3]);
  }
  uint64_t position = in.block; /* the first entry follows the super block */
  for (uint64_t index = 0; index < to; ++index) {
    struct entry header;
    if (read_at(in.fd, in.data, in.block, position) != 0) return fail("cannot read an entry of", argv[2]);
    memcpy(&header, in.data, sizeof header);
    uint64_t flags = le64toh(header.flags), length = le64toh(header.data_len);
    errno = 0;
    if (length > in.block - sizeof header || (length != 0 && !(flags & FLAG_MARK)))
      return fail("an entry with inline data (not supported) in", argv[2]);
    if (list) {
      describe(index, &header, in.data);
    } else if (index >= from && !(flags & FLAG_MARK) && replay(&in, &header, position, target, argv[3]) != 0) {
      return 1;
    }
    int has_data = !(flags & (FLAG_DISCARD | FLAG_MARK));
    position += in.block * (1 + (has_data ? le64toh(header.nr_sectors) : 0));
  }
  if (target >= 0 && (fsync(target) != 0 || close(target) != 0)) return fail("cannot sync", argv[3]);
  return 0;
}
