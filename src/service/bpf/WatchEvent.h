/* The record that the kernel side hands to the service through the ring buffer: one per fork
 * of a process (not of a thread), per exec and per end of a whole thread group. Shared by the
 * BPF program and the service, so only C types whose sizes agree on both targets. */
#ifndef ORVANE_WATCH_EVENT_H
#define ORVANE_WATCH_EVENT_H

#define ORVANE_EVENT_FORK 1
#define ORVANE_EVENT_EXEC 2
#define ORVANE_EVENT_EXIT 3

#define ORVANE_COMM_LEN 16
/* Room for an executable's path; a longer one is not sent (path_len 0), and the service reads
 * /proc/<pid>/exe instead. */
#define ORVANE_PATH_MAX 4096

struct orvane_event {
    unsigned int kind;
    unsigned int pid;  /* thread group id: the process identifier /proc shows */
    unsigned int ppid; /* real parent's thread group id */
    unsigned int uid;  /* real user id */
    unsigned int euid; /* effective user id */
    unsigned int path_len; /* bytes of the path after the record; 0: none */
    unsigned long long start_ns; /* start of the thread group, ns of CLOCK_BOOTTIME */
    unsigned long long time_ns;  /* when it happened, ns of CLOCK_BOOTTIME */
    char comm[ORVANE_COMM_LEN];  /* the kernel's command name, zero-terminated */
    /* followed by path_len bytes of the executable's path (exec only) */
};

#endif
