/* The heap in use, counted at every allocation and release, for
 * bench/scan_memory: its peak over the whole run, and its level and peak
 * from the first mkstemp on (hfscan makes its table's temporary file just
 * before the first window, once the input is read and checked). Loaded with
 * LD_PRELOAD; writes "peak LEVEL_AT_MARK PEAK_AFTER_MARK" (bytes) to the
 * file named by HEAPMARK_OUT when the process exits.
 *
 *     cc -O2 -shared -fPIC -o heapmark.so bench/heapmark.c -ldl
 *
 * Sizes are those malloc_usable_size reports, so the counts include the
 * allocator's rounding but not its own headers. Counted: malloc, calloc,
 * realloc, posix_memalign and aligned_alloc (operator new comes through
 * malloc); not memory mapped directly, such as OpenBLAS's work areas. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <malloc.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static atomic_long cur, peak, mark_level = -1, mark_peak;
static void *(*real_malloc)(size_t), *(*real_calloc)(size_t, size_t), *(*real_realloc)(void *, size_t);
static void (*real_free)(void *);
static int (*real_memalign)(void **, size_t, size_t);
static void *(*real_aligned)(size_t, size_t);
static int (*real_mkstemp)(char *);

/* dlsym may allocate before calloc is known: from a small arena. */
static char arena[4096];
static size_t arena_used;

static void init(void)
{
  if (real_malloc)
    return;
  real_calloc = dlsym(RTLD_NEXT, "calloc");
  real_realloc = dlsym(RTLD_NEXT, "realloc");
  real_free = dlsym(RTLD_NEXT, "free");
  real_memalign = dlsym(RTLD_NEXT, "posix_memalign");
  real_aligned = dlsym(RTLD_NEXT, "aligned_alloc");
  real_mkstemp = dlsym(RTLD_NEXT, "mkstemp");
  real_malloc = dlsym(RTLD_NEXT, "malloc");
}

static int from_arena(void *p)
{
  return (char *)p >= arena && (char *)p < arena + sizeof arena;
}

static void *count(void *p)
{
  if (p) {
    long now = atomic_fetch_add(&cur, (long)malloc_usable_size(p)) + (long)malloc_usable_size(p);
    long top = atomic_load(&peak);
    while (now > top && !atomic_compare_exchange_weak(&peak, &top, now))
      ;
    if (atomic_load(&mark_level) >= 0) {
      top = atomic_load(&mark_peak);
      while (now > top && !atomic_compare_exchange_weak(&mark_peak, &top, now))
        ;
    }
  }
  return p;
}

static void uncount(void *p)
{
  if (p)
    atomic_fetch_sub(&cur, (long)malloc_usable_size(p));
}

void *malloc(size_t n)
{
  init();
  return count(real_malloc(n));
}

void *calloc(size_t k, size_t n)
{
  if (!real_calloc) {
    /* From dlsym, before the real calloc is known. */
    size_t want = (k * n + 15) & ~(size_t)15;
    if (arena_used + want > sizeof arena)
      return NULL;
    void *p = arena + arena_used;
    arena_used += want;
    return p;
  }
  return count(real_calloc(k, n));
}

void *realloc(void *p, size_t n)
{
  init();
  if (from_arena(p))
    return NULL;
  uncount(p);
  return count(real_realloc(p, n));
}

void free(void *p)
{
  init();
  if (!p || from_arena(p))
    return;
  uncount(p);
  real_free(p);
}

int posix_memalign(void **out, size_t align, size_t n)
{
  init();
  int r = real_memalign(out, align, n);
  if (r == 0)
    count(*out);
  return r;
}

void *aligned_alloc(size_t align, size_t n)
{
  init();
  return count(real_aligned(align, n));
}

int mkstemp(char *name)
{
  init();
  long expect = -1;
  long now = atomic_load(&cur);
  if (atomic_compare_exchange_strong(&mark_level, &expect, now))
    atomic_store(&mark_peak, now);
  return real_mkstemp(name);
}

__attribute__((destructor)) static void report(void)
{
  const char *path = getenv("HEAPMARK_OUT");
  if (!path)
    return;
  FILE *f = fopen(path, "w");
  if (!f)
    return;
  fprintf(f, "%ld %ld %ld\n", atomic_load(&peak), atomic_load(&mark_level), atomic_load(&mark_peak));
  fclose(f);
}
