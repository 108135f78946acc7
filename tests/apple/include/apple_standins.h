#pragma once
#pragma GCC system_header  // as Apple's headers are: the tool's warnings are its own

// Apple's calls that the tool's Apple branches make, for Linux: the build
// with TARNWELL_APPLE_STANDINS puts this header before every source of the
// tool, as Apple's own headers would be, and Apple's header names beside
// it (copyfile.h, sys/xattr.h, ...) are empty. CoreFoundation is declared
// by the header the macOS cross-check compiles against (scripts/macos-sdk).
//
// Each call keeps the behaviour Apple's sources give it (see the contracts
// sheet the stand-ins were written from), errors included, on Linux's
// calls; where Linux lacks a thing (file flags, attributes of links) a
// side store stands in. Faults the Mac can meet are switched on by the
// environment, TARNWELL_APPLE_*.

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <stdint.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#define ENOATTR ENODATA

// sys/stat.h: the file flags, kept in the attribute user.standin.flags and
// given by fstat, where the tool reads them.
#define UF_IMMUTABLE 0x2
#define UF_APPEND 0x4
#define UF_HIDDEN 0x8000
#define SF_IMMUTABLE 0x20000
#define SF_APPEND 0x40000
#define st_flags __glibc_reserved[0]
#define st_atimespec st_atim
#define st_mtimespec st_mtim
int fchflags(int fd, unsigned flags);
int standin_fstat(int fd, struct stat* info);
int standin_unlinkat(int directory, const char* name, int flags);

// fcntl.h: a descriptor of the link itself.
#define O_SYMLINK (O_PATH | O_NOFOLLOW)

// stdio.h
#define RENAME_SWAP 0x2
#define RENAME_EXCL 0x4
int renameatx_np(int fromDirectory, const char* from, int toDirectory, const char* to, unsigned flags);

// sys/xattr.h: Apple's argument lists, overloads of Linux's.
#define XATTR_NOFOLLOW 0x1
ssize_t flistxattr(int fd, char* names, size_t size, int options);
ssize_t fgetxattr(int fd, const char* name, void* value, size_t size, uint32_t position, int options);
int fsetxattr(int fd, const char* name, const void* value, size_t size, uint32_t position, int options);
int fremovexattr(int fd, const char* name, int options);

// copyfile.h
typedef struct copyfile_state* copyfile_state_t;
typedef uint32_t copyfile_flags_t;
typedef int (*copyfile_callback_t)(int, int, copyfile_state_t, const char*, const char*, void*);
#define COPYFILE_STATE_STATUS_CB 6
#define COPYFILE_STATE_STATUS_CTX 7
#define COPYFILE_DATA (1 << 3)
#define COPYFILE_DATA_SPARSE (1 << 27)
enum { COPYFILE_COPY_DATA = 4, COPYFILE_COPY_XATTR = 5 };
enum { COPYFILE_START = 1, COPYFILE_FINISH, COPYFILE_ERR, COPYFILE_PROGRESS };
enum { COPYFILE_CONTINUE = 0, COPYFILE_SKIP, COPYFILE_QUIT };
copyfile_state_t copyfile_state_alloc(void);
int copyfile_state_free(copyfile_state_t state);
int copyfile_state_set(copyfile_state_t state, uint32_t flag, const void* value);
int fcopyfile(int from, int to, copyfile_state_t state, copyfile_flags_t flags);

// sys/acl.h: extended ACLs, kept in the attribute user.standin.acl as
// lines "allow BITS" or "deny BITS".
typedef struct standin_acl* acl_t;
typedef struct standin_acl_entry* acl_entry_t;
typedef unsigned* acl_permset_t;
typedef enum { ACL_UNDEFINED_TAG, ACL_EXTENDED_ALLOW, ACL_EXTENDED_DENY } acl_tag_t;
typedef enum { ACL_TYPE_EXTENDED = 0x100 } acl_type_t;
typedef enum {
  ACL_ADD_FILE = 1 << 2,
  ACL_ADD_SUBDIRECTORY = 1 << 5,
  ACL_DELETE_CHILD = 1 << 6,
  ACL_WRITE_SECURITY = 1 << 12,
  ACL_CHANGE_OWNER = 1 << 13
} acl_perm_t;
#define ACL_FIRST_ENTRY 0
#define ACL_NEXT_ENTRY (-1)
acl_t acl_get_fd_np(int fd, acl_type_t type);
int acl_get_entry(acl_t acl, int which, acl_entry_t* entry);
int acl_get_tag_type(acl_entry_t entry, acl_tag_t* tag);
int acl_get_permset(acl_entry_t entry, acl_permset_t* permissions);
int acl_get_perm_np(acl_permset_t permissions, acl_perm_t permission);
int acl_free(void* acl);

// sys/event.h: one process and a few descriptors a queue, as the tool uses it.
struct kevent {
  uintptr_t ident;
  int16_t filter;
  uint16_t flags;
  uint32_t fflags;
  intptr_t data;
  void* udata;
};
#define EVFILT_READ (-1)
#define EVFILT_PROC (-5)
#define EV_ADD 0x1
#define EV_ONESHOT 0x10
#define EV_EOF 0x8000
#define NOTE_EXIT 0x80000000u
#define EV_SET(event, i, f, fl, ff, d, u) \
  (*(event) = {static_cast<uintptr_t>(i), static_cast<int16_t>(f), static_cast<uint16_t>(fl), ff, d, u})
int kqueue(void);
int kevent(int queue, const struct kevent* changes, int changeCount, struct kevent* events, int eventCount,
           const struct timespec* timeout);

// spawn.h
#define POSIX_SPAWN_CLOEXEC_DEFAULT 0x4000
int posix_spawn_file_actions_addinherit_np(posix_spawn_file_actions_t* actions, int fd);
int standin_spawnattr_setflags(posix_spawnattr_t* attributes, short flags);
int standin_adddup2(posix_spawn_file_actions_t* actions, int fd, int to);
int standin_addopen(posix_spawn_file_actions_t* actions, int fd, const char* path, int flags, mode_t mode);
int standin_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                  const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]);

// mach-o/dyld.h, pthread.h
int _NSGetExecutablePath(char* buffer, uint32_t* size);
int pthread_threadid_np(void* thread, uint64_t* id);  // pthread_t is a pointer there

// syslog.h: recorded in /standin/syslog, where the tests read it.
void standin_syslog(int level, const char* format, ...);

#if !defined(TARNWELL_STANDIN_IMPLEMENTATION)
#undef syslog
#define syslog standin_syslog
#define fstat(fd, info) standin_fstat(fd, info)
#define unlinkat(directory, name, flags) standin_unlinkat(directory, name, flags)
#define posix_spawnattr_setflags standin_spawnattr_setflags
#define posix_spawn_file_actions_adddup2 standin_adddup2
#define posix_spawn_file_actions_addopen standin_addopen
#define posix_spawn standin_spawn
#endif
