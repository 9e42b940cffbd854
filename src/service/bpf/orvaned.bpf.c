// SPDX-License-Identifier: GPL-2.0
/* The kernel side of orvaned: one record per fork of a process, per exec and per end of a
 * whole thread group, into one ring buffer. Nothing here decides anything; the service does. */

#include "KernelTypes.h"

#include <bpf/bpf_core_read.h>
#include <bpf/bpf_helpers.h>

#include "WatchEvent.h"

char LICENSE[] SEC("license") = "GPL";

/* The service sets the size before loading (a power of two, at least a page). */
struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, 1 << 20);
} events SEC(".maps");

/* Records that found no room: any change tells the service that it has missed something. */
__u64 lost = 0;

/* Set by the service while programs are disabled: every exec wakes it at once, so that a
 * disabled program dies before it has run long. Other records wake it at most every
 * WAKE_INTERVAL_NS, or when the buffer is a quarter full. After every batch it reads the
 * buffer once more a little later, so a record that woke nobody waits a few tens of
 * milliseconds at most. */
__u32 wake_on_exec = 0;
__u64 last_wakeup = 0;
#define WAKE_INTERVAL_NS 20000000ULL

#define PATH_HALF ORVANE_PATH_MAX
#define NAME_MASK 255 /* a component is at most NAME_MAX (255) bytes */
#define MAX_COMPONENTS 48

/* Per CPU, too large for the BPF stack: the path is built backwards in the first half of
 * `build`, whose second half only keeps masked writes inside the buffer; then the record is
 * put together in `record`, header and path in one piece, and copied to the ring buffer. */
struct scratch {
    char build[2 * PATH_HALF];
    struct orvane_event record;
    char record_path[PATH_HALF]; /* right after the record: sizeof(struct orvane_event) is 8-aligned */
};

struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct scratch);
} scratch_map SEC(".maps");

static __always_inline void fill_common(struct orvane_event *e, struct task_struct *task, __u32 kind)
{
    e->kind = kind;
    e->pid = BPF_CORE_READ(task, tgid);
    e->ppid = BPF_CORE_READ(task, real_parent, tgid);
    e->uid = BPF_CORE_READ(task, real_cred, uid.val);
    e->euid = BPF_CORE_READ(task, real_cred, euid.val);
    e->path_len = 0;
    /* The process's start is its leader's: the last thread of a group to end may be another
     * (exec makes the thread that calls it the leader, with the leader's start). */
    e->start_ns = BPF_CORE_READ(task, group_leader, start_boottime);
    e->time_ns = bpf_ktime_get_boot_ns();
    BPF_CORE_READ_STR_INTO(&e->comm, task, comm);
}

static __always_inline void send(void *data, __u64 size, bool urgent)
{
    __u64 now = bpf_ktime_get_boot_ns();
    __u64 flags = BPF_RB_NO_WAKEUP;
    if (urgent || now - last_wakeup >= WAKE_INTERVAL_NS ||
        bpf_ringbuf_query(&events, BPF_RB_AVAIL_DATA) * 4 >= bpf_ringbuf_query(&events, BPF_RB_RING_SIZE)) {
        flags = BPF_RB_FORCE_WAKEUP;
        last_wakeup = now; /* a race between CPUs only wakes the service once more */
    }
    if (bpf_ringbuf_output(&events, data, size, flags) != 0)
        __sync_fetch_and_add(&lost, 1);
}

/* Where the walk up from an executable's dentry stands between two steps. */
struct walk {
    struct dentry *dentry;
    struct vfsmount *vfsmnt;
    struct mount *mnt;
    __u32 off; /* the path built so far is build[off, PATH_HALF - 1) */
    bool done; /* the root of the mount tree was reached */
};

static __always_inline struct mount *real_mount(struct vfsmount *vfsmnt)
{
    return (struct mount *)((char *)vfsmnt - bpf_core_field_offset(struct mount, mnt));
}

/* One step of the walk, as a bpf_loop callback so that the verifier checks it once, not once
 * per possible depth. Returns 1 to stop. */
static long walk_step(__u32 index, void *ctx)
{
    struct walk *w = ctx;
    __u32 zero = 0;
    struct scratch *s = bpf_map_lookup_elem(&scratch_map, &zero);
    if (!s)
        return 1;
    /* Plain copies: a CO-RE read relocates every access in its argument, and struct walk is
     * not a kernel type. */
    struct dentry *dentry = w->dentry;
    struct vfsmount *vfsmnt = w->vfsmnt;
    struct mount *mnt = w->mnt;
    struct dentry *parent = BPF_CORE_READ(dentry, d_parent);
    struct dentry *root = BPF_CORE_READ(vfsmnt, mnt_root);
    if (dentry == root || dentry == parent) {
        struct mount *up = BPF_CORE_READ(mnt, mnt_parent);
        if (dentry != root || up == mnt) {
            w->done = true;
            return 1;
        }
        /* The top of a mounted file system: go on from where it is mounted. */
        w->dentry = BPF_CORE_READ(mnt, mnt_mountpoint);
        w->mnt = up;
        w->vfsmnt = (struct vfsmount *)((char *)up + bpf_core_field_offset(struct mount, mnt));
        return 0;
    }
    __u32 len = BPF_CORE_READ(dentry, d_name.len);
    const unsigned char *name = BPF_CORE_READ(dentry, d_name.name);
    __u32 off = w->off;
    if (len > NAME_MASK || off > PATH_HALF - 1 || len + 1 > off)
        return 1; /* does not fit: not done */
    off -= len;
    bpf_probe_read_kernel(&s->build[off & (PATH_HALF - 1)], len & NAME_MASK, name);
    off -= 1;
    s->build[off & (PATH_HALF - 1)] = '/';
    w->off = off;
    w->dentry = parent;
    return 0;
}

/* The file's path from the root of the mount tree, as /proc/<pid>/exe shows it to a process in
 * the initial mount namespace. Returns its length in s->build, ending at PATH_HALF - 1, or 0
 * when it did not fit or was deeper than MAX_COMPONENTS (the service then reads /proc). */
static __always_inline __u32 build_path(struct scratch *s, struct file *file)
{
    struct walk w = {};
    struct vfsmount *vfsmnt = BPF_CORE_READ(file, f_path.mnt);
    w.dentry = BPF_CORE_READ(file, f_path.dentry);
    w.vfsmnt = vfsmnt;
    w.mnt = real_mount(vfsmnt);
    w.off = PATH_HALF - 1;
    bpf_loop(MAX_COMPONENTS, walk_step, &w, 0);
    __u32 off = w.off;
    if (!w.done || off > PATH_HALF - 1)
        return 0;
    if (off == PATH_HALF - 1) { /* the root itself */
        off -= 1;
        s->build[off & (PATH_HALF - 1)] = '/';
    }
    return PATH_HALF - 1 - off;
}

SEC("tp_btf/sched_process_fork")
int on_fork(unsigned long long *ctx)
{
    struct task_struct *child = (struct task_struct *)ctx[1];
    if (BPF_CORE_READ(child, pid) != BPF_CORE_READ(child, tgid))
        return 0; /* a new thread, not a new process */
    if (BPF_CORE_READ(child, flags) & PF_KTHREAD)
        return 0;
    struct orvane_event e = {};
    fill_common(&e, child, ORVANE_EVENT_FORK);
    send(&e, sizeof e, false);
    return 0;
}

SEC("tp_btf/sched_process_exec")
int on_exec(unsigned long long *ctx)
{
    struct task_struct *task = (struct task_struct *)ctx[0];
    struct linux_binprm *bprm = (struct linux_binprm *)ctx[2];
    __u32 zero = 0;
    struct scratch *s = bpf_map_lookup_elem(&scratch_map, &zero);
    if (!s)
        return 0;
    fill_common(&s->record, task, ORVANE_EVENT_EXEC);
    __u32 len = build_path(s, BPF_CORE_READ(bprm, file));
    len &= PATH_HALF - 1;
    if (len) {
        __u32 start = (PATH_HALF - 1 - len) & (PATH_HALF - 1);
        bpf_probe_read_kernel(s->record_path, len, &s->build[start]);
    }
    s->record.path_len = len;
    send(&s->record, sizeof s->record + len, wake_on_exec != 0);
    return 0;
}

SEC("tp_btf/sched_process_exit")
int on_exit(unsigned long long *ctx)
{
    struct task_struct *task = (struct task_struct *)ctx[0];
    /* Every thread passes here; the group has ended when none is left alive. Two threads that
     * end together may both see zero: the service takes the second record as a repeat. */
    if (BPF_CORE_READ(task, signal, live.counter) != 0)
        return 0;
    if (BPF_CORE_READ(task, flags) & PF_KTHREAD)
        return 0;
    struct orvane_event e = {};
    fill_common(&e, task, ORVANE_EVENT_EXIT);
    send(&e, sizeof e, false);
    return 0;
}
