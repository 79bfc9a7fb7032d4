/*
 * Preloaded into the 32-bit programs that run under qemu-user (and, built
 * for the host, into every other program of the same session, where it
 * changes nothing): two places where qemu-user 7.2 (Debian 12) does not do
 * what the kernel does and Wine's 32-bit loader relies on it.
 *
 * 1. mmap with MAP_FIXED_NOREPLACE fails with EEXIST when the range is
 *    taken. qemu takes the flag as a mere hint and maps the range
 *    elsewhere. Wine reserves its address space with that flag and keeps
 *    whatever lands above 2 GB, so its first reservation, which meets the
 *    loader's own libraries, fills the upper half with misplaced blocks; the
 *    next one then splits that half down to 64 KiB pieces, tens of thousands
 *    of calls, each a full search of the 4 GB address space in qemu: about
 *    50 s of CPU at every start of a Windows program, about 1 s without.
 *
 * 2. A fault's trap number in the signal context. qemu leaves it -1; Wine
 *    tells a page fault (a thread's stack growing into its guard page) from
 *    other faults by it, and ends the thread on "unexpected trap -1"
 *    instead. The number is put back, from the signal and its code, before
 *    Wine's handler sees the context.
 *
 * 3. Thread-local segments. qemu 7.2 keeps one GDT for all the threads of a
 *    process, so the thread-local entries that set_thread_area fills (the C
 *    library's %gs, Wine's %fs holding the TEB) hold the last thread's base
 *    for every thread, and each reload of the segment register (Wine
 *    reloads both on every return from a system call, qemu on every return
 *    from a signal) puts another thread's data under the running one:
 *    "free(): invalid pointer", "Exception frame is not in stack limits".
 *    The LDT has an entry per selector instead. So each thread's %gs moves
 *    to an LDT entry of its own with the same base, before the thread runs
 *    anything else (the C library makes a thread with the creator's %gs
 *    entry, which must be the GDT one then: it is lent back for that, under
 *    a lock); and the free thread-local GDT entries are taken first,
 *    so that Wine, finding none, gives each thread an LDT entry for %fs too
 *    (above the first 512, which it leaves to the C library once %gs is in
 *    the LDT). METERLOAD_QEMU_SEGMENTS=off leaves the segments as they are:
 *    setting up a new prefix, where Wine starts many processes at once,
 *    was seen to hang with the change.
 *
 * No headers: it is built with -nostdlib for a target whose C library
 * headers need not be installed, and takes what it calls from the C library
 * already loaded.
 */
typedef __SIZE_TYPE__ size_t;

#define NOREPLACE 0x100000 /* MAP_FIXED_NOREPLACE, the same on i386 and x86-64 */
#define MAPPING_FAILED ((void *)-1)
#define NEXT_SYMBOL ((void *)-1l) /* RTLD_NEXT */
#define ERROR_EXISTS 17           /* EEXIST */

void *dlsym(void *handle, const char *name);
int munmap(void *addr, size_t length);
int *__errno_location(void);

static void *kept_or_refused(void *wanted, void *got, size_t length, int flags) {
  if (!(flags & NOREPLACE) || got == MAPPING_FAILED || got == wanted) return got;
  munmap(got, length);
  *__errno_location() = ERROR_EXISTS;
  return MAPPING_FAILED;
}

void *mmap(void *addr, size_t length, int prot, int flags, int fd, long offset) {
  static void *(*next)(void *, size_t, int, int, int, long);
  if (!next) next = (void *(*)(void *, size_t, int, int, int, long))dlsym(NEXT_SYMBOL, "mmap");
  return kept_or_refused(addr, next(addr, length, prot, flags, fd, offset), length, flags);
}

void *mmap64(void *addr, size_t length, int prot, int flags, int fd, long long offset) {
  static void *(*next)(void *, size_t, int, int, int, long long);
  if (!next) next = (void *(*)(void *, size_t, int, int, int, long long))dlsym(NEXT_SYMBOL, "mmap64");
  return kept_or_refused(addr, next(addr, length, prot, flags, fd, offset), length, flags);
}

#ifdef __i386__
/* i386 Linux: signal numbers, SA_SIGINFO, the layout of struct sigaction in
 * glibc, and where ucontext_t keeps the trap number. */
enum { SIGNAL_ILL = 4, SIGNAL_FPE = 8, SIGNAL_SEGV = 11, SIGNAL_COUNT = 65 };
enum { WANTS_INFO = 4 };
enum { REGISTERS_OFFSET = 20, TRAP_REGISTER = 12, CODE_IN_INFO = 2 };
enum { TRAP_DIVIDE = 0, TRAP_ILLEGAL = 6, TRAP_PROTECTION = 13, TRAP_PAGE = 14, TRAP_FLOAT = 16 };
enum { SEGV_MAPPING = 1, SEGV_ACCESS = 2, FPE_INT_DIVIDE = 1 };

typedef void (*info_handler)(int, void *, void *);
struct action {
  info_handler handler;
  unsigned long mask[32];
  int flags;
  void (*restorer)(void);
};

static info_handler wine_handlers[SIGNAL_COUNT];

/* Segments: struct user_desc, its flags, the system calls. */
enum { SYSTEM_MODIFY_LDT = 123, SYSTEM_SET_THREAD_AREA = 243 };
enum { SEGMENT_32BIT = 1, LIMIT_IN_PAGES = 1 << 4, USABLE = 1 << 6 };
enum { FIRST_GS_ENTRY = 1, GS_ENTRIES = 511 }; /* Wine takes 512 and above */
struct segment {
  unsigned entry;
  unsigned base;
  unsigned limit;
  unsigned flags;
};

static long system_call(long number, long first, long second, long third) {
  long result;
  __asm__ volatile("pushl %%ebx\n\tmovl %2, %%ebx\n\tint $0x80\n\tpopl %%ebx"
                   : "=a"(result)
                   : "0"(number), "r"(first), "c"(second), "d"(third)
                   : "memory");
  return result;
}

static unsigned short library_selector; /* the C library's GDT entry for %gs */

static unsigned short gs_selector(void) {
  unsigned short selector;
  __asm__ volatile("movw %%gs, %0" : "=r"(selector));
  return selector;
}

static void load_gs(unsigned short selector) {
  __asm__ volatile("movw %0, %%gs" : : "r"(selector) : "memory");
}

static unsigned thread_base(void) {
  unsigned base;
  __asm__ volatile("movl %%gs:0, %0" : "=r"(base));
  return base;
}

/* Moves the running thread's %gs to an LDT entry of its own. */
static void own_thread_segment(void) {
  static unsigned next_entry;
  const unsigned base = thread_base();
  const unsigned entry = FIRST_GS_ENTRY + __atomic_fetch_add(&next_entry, 1, __ATOMIC_RELAXED) % GS_ENTRIES;
  struct segment segment = {entry, base, 0xfffff, SEGMENT_32BIT | LIMIT_IN_PAGES | USABLE};
  if (system_call(SYSTEM_MODIFY_LDT, 1, (long)&segment, sizeof segment) != 0) return;
  load_gs((unsigned short)(entry << 3 | 7)); /* LDT, ring 3 */
}

char *getenv(const char *name);
static int segments_kept;

__attribute__((constructor)) static void segments_per_thread(void) {
  const char *setting = getenv("METERLOAD_QEMU_SEGMENTS");
  segments_kept = setting && setting[0] == 'o' && setting[1] == 'f' && setting[2] == 'f' && !setting[3];
  if (segments_kept) return;
  library_selector = gs_selector();
  /* The free thread-local GDT entries, so that Wine takes none. */
  for (int i = 0; i < 3; ++i) {
    struct segment taken = {~0u, 0, 0, SEGMENT_32BIT | USABLE};
    if (system_call(SYSTEM_SET_THREAD_AREA, (long)&taken, 0, 0) != 0) break;
  }
  own_thread_segment();
}

struct thread_start {
  void *(*routine)(void *);
  void *argument;
};
void *malloc(size_t size);
void free(void *pointer);

static void *with_own_segment(void *start) {
  const struct thread_start what = *(struct thread_start *)start;
  free(start);
  own_thread_segment();
  return what.routine(what.argument);
}

int pthread_create(void *thread, const void *attributes, void *(*routine)(void *), void *argument) {
  static int (*next)(void *, const void *, void *(*)(void *), void *);
  if (!next) next = (int (*)(void *, const void *, void *(*)(void *), void *))dlsym(NEXT_SYMBOL, "pthread_create");
  if (segments_kept) return next(thread, attributes, routine, argument);
  struct thread_start *start = malloc(sizeof *start);
  if (!start) return next(thread, attributes, routine, argument);
  start->routine = routine;
  start->argument = argument;
  static int lock;
  const unsigned short own = gs_selector();
  const unsigned base = thread_base();
  while (__atomic_exchange_n(&lock, 1, __ATOMIC_ACQUIRE)) __asm__ volatile("pause");
  struct segment library = {library_selector >> 3, base, 0xfffff, SEGMENT_32BIT | LIMIT_IN_PAGES | USABLE};
  system_call(SYSTEM_SET_THREAD_AREA, (long)&library, 0, 0);
  load_gs(library_selector);
  const int result = next(thread, attributes, with_own_segment, start);
  load_gs(own);
  __atomic_store_n(&lock, 0, __ATOMIC_RELEASE);
  if (result != 0) free(start);
  return result;
}

static unsigned trap_number(int signal, const int *info) {
  const int code = info[CODE_IN_INFO];
  switch (signal) {
    case SIGNAL_ILL: return TRAP_ILLEGAL;
    case SIGNAL_FPE: return code == FPE_INT_DIVIDE ? TRAP_DIVIDE : TRAP_FLOAT;
    default: return code == SEGV_MAPPING || code == SEGV_ACCESS ? TRAP_PAGE : TRAP_PROTECTION;
  }
}

static void with_trap_number(int signal, void *info, void *context) {
  unsigned *registers = (unsigned *)((char *)context + REGISTERS_OFFSET);
  if (registers[TRAP_REGISTER] == ~0u) registers[TRAP_REGISTER] = trap_number(signal, info);
  wine_handlers[signal](signal, info, context);
}

int sigaction(int signal, const struct action *act, struct action *old) {
  static int (*next)(int, const struct action *, struct action *);
  if (!next) next = (int (*)(int, const struct action *, struct action *))dlsym(NEXT_SYMBOL, "sigaction");
  const int fault = signal == SIGNAL_ILL || signal == SIGNAL_FPE || signal == SIGNAL_SEGV;
  if (!fault || !act || !(act->flags & WANTS_INFO) || act->handler == with_trap_number) {
    return next(signal, act, old);
  }
  const info_handler before = wine_handlers[signal];
  struct action wrapped = *act;
  wrapped.handler = with_trap_number;
  wine_handlers[signal] = act->handler;
  const int result = next(signal, &wrapped, old);
  if (old && old->handler == with_trap_number) old->handler = before;
  return result;
}
#endif
