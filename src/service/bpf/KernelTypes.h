/* The few kernel types and fields that the watch program reads, declared here so that its
 * build needs no kernel headers and no BTF of the build machine. Each struct names only the
 * fields used; preserve_access_index makes every access a CO-RE relocation, which libbpf
 * resolves against the running kernel's BTF at load time, so neither layout nor order here has
 * to match the kernel's. */
#ifndef ORVANE_KERNEL_TYPES_H
#define ORVANE_KERNEL_TYPES_H

typedef unsigned char __u8;
typedef signed char __s8;
typedef unsigned short __u16;
typedef short __s16;
typedef unsigned int __u32;
typedef int __s32;
typedef unsigned long long __u64;
typedef long long __s64;
typedef __u16 __be16;
typedef __u32 __be32;
typedef __u32 __wsum;
typedef _Bool bool;
#define true 1
#define false 0

enum bpf_map_type {
    BPF_MAP_TYPE_PERCPU_ARRAY = 6,
    BPF_MAP_TYPE_RINGBUF = 27,
};

/* Flags and queries of the ring buffer helpers (uapi values). */
enum {
    BPF_RB_NO_WAKEUP = 1,
    BPF_RB_FORCE_WAKEUP = 2,
};
enum {
    BPF_RB_AVAIL_DATA = 0,
    BPF_RB_RING_SIZE = 1,
};

#define CORE_TYPE __attribute__((preserve_access_index))

typedef struct {
    int counter;
} CORE_TYPE atomic_t;

typedef struct {
    unsigned int val;
} CORE_TYPE kuid_t;

struct cred {
    kuid_t uid;
    kuid_t euid;
} CORE_TYPE;

struct signal_struct {
    atomic_t live; /* threads of the group not yet in do_exit */
} CORE_TYPE;

struct qstr {
    union {
        struct {
            __u32 hash;
            __u32 len;
        };
        __u64 hash_len;
    };
    const unsigned char *name;
} CORE_TYPE;

struct dentry {
    struct dentry *d_parent;
    struct qstr d_name;
} CORE_TYPE;

struct vfsmount {
    struct dentry *mnt_root;
} CORE_TYPE;

struct mount {
    struct mount *mnt_parent;
    struct dentry *mnt_mountpoint;
    struct vfsmount mnt;
} CORE_TYPE;

struct path {
    struct vfsmount *mnt;
    struct dentry *dentry;
} CORE_TYPE;

struct file {
    struct path f_path;
} CORE_TYPE;

struct linux_binprm {
    struct file *file;
} CORE_TYPE;

/* (9) flags of /proc/<pid>/stat: a kernel thread. */
#define PF_KTHREAD 0x00200000

struct task_struct {
    unsigned int flags;
    int pid;
    int tgid;
    struct task_struct *real_parent;
    struct task_struct *group_leader;
    const struct cred *real_cred;
    struct signal_struct *signal;
    __u64 start_boottime;
    char comm[16];
} CORE_TYPE;

#endif
