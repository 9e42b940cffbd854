#pragma once
// The event log's writer: entries are queued by any thread and written to Logs.log, in the
// order they were queued, by a thread of the writer's own. A disk that does not take them (a
// frozen filesystem, a slow network share) holds up that thread only: the monitor's passes and
// the window go on, and the entries wait in the queue until the file can take them.
//
// The queue's lock is small and never held across I/O. The queue is bounded; an entry that
// finds it full is dropped and counted, and the count is told once the backlog is gone. The
// switch of the log (open, close) and the dialog's operations on the file go through the same
// queue, so they keep their order with the entries: what was queued before them is written
// before them, what comes after waits for them. The file itself is CEventLogFile: whole
// entries, CR LF, the exclusive flock.

#include "platform/Result.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

class CLogWriter {
public:
    struct Limits {
        std::size_t entries;
        std::size_t bytes;
    };
    // A quarter of a million entries (32 MiB of text at most): a freeze of more than ten minutes
    // on a machine that starts two hundred programs a second, of hours on an ordinary desktop.
    static constexpr Limits kDefaultLimits{262144, std::size_t{32} << 20};

    // Told on the writer's thread (they must not block): the first failure of the file since
    // the last one told (open, write or close; not the open of OpenAndWait, which its caller
    // is given), and how many entries were dropped for a full queue, once the queue has drained.
    struct Callbacks {
        std::function<void(std::error_code)> failure;
        std::function<void(std::uint64_t dropped)> dropped;
    };

    // The thread starts at once; the log stays closed until Open.
    explicit CLogWriter(std::string path, Limits limits = kDefaultLimits);
    // Finish(), when it has not been called.
    ~CLogWriter();
    CLogWriter(const CLogWriter&) = delete;
    CLogWriter& operator=(const CLogWriter&) = delete;

    // Set before the first entry; Finish drops them.
    void SetCallbacks(Callbacks callbacks);
    const std::string& Path() const { return m_path; }

    // Any thread; never waits for the disk.
    // An entry, after those queued before. Fails, the entry dropped, when the queue is full
    // (ENOBUFS; the drop is counted and told through the callback) or the writer has finished
    // (ECANCELED).
    Result<> Write(std::string entry);
    // An entry that is never dropped (the banners).
    void WriteBanner(std::string entry);
    // The log opened (created when missing) once the entries queued so far are written; a
    // failure goes to the failure callback and the entries after it are not written.
    void Open();
    // The log closed once the entries queued so far are written.
    void Close();

    // These wait at most `limit` for the writer to reach them behind the entries queued before;
    // when it does not (the disk holds it), they give up, leave the log as it was and return
    // StorageFault::LogBusy.
    // Open, with the reason the log could not be opened returned here instead of told.
    Result<> OpenAndWait(std::chrono::milliseconds limit);
    // Runs `operation` on the calling thread, given the log's path, with the log closed, after
    // every entry queued so far; afterwards the log is opened again if it was open. Entries
    // queued meanwhile wait for it.
    Result<> RunClosed(const std::function<void(const std::string& path)>& operation,
                       std::chrono::milliseconds limit);
    // Returns once every entry queued so far has been written (or failed).
    Result<> Flush(std::chrono::milliseconds limit);

    // The end: waits while the writer works through the queue and gives up once it has
    // finished nothing for `stall`. The writer's thread ends (or, held by the disk, ends by
    // itself later, writing nothing more than the entry under way); the callbacks are dropped.
    // Returns how many entries will never reach the file: those still queued, and those dropped
    // and not yet told. Later calls return 0.
    std::uint64_t Finish(std::chrono::milliseconds stall = std::chrono::seconds(5));

    // Fault injection for tests: called on the writer's thread before each entry is written,
    // where a slow or frozen disk would hold the write. Never set by the program.
    void SetWriteHookForTesting(std::function<void()> hook);

private:
    struct State;
    struct Handshake;
    void Enqueue(int kind, std::string text, std::shared_ptr<Handshake> handshake);
    // Queues a command whose caller waits for the writer to start on it; false (and the
    // command given up) when it did not within `limit`.
    bool WaitForTurn(int kind, const std::shared_ptr<Handshake>& handshake,
                     std::chrono::milliseconds limit);

    std::string m_path;
    std::shared_ptr<State> m_state; // shared with the thread, which may outlive this object
    std::thread m_thread;
    bool m_bFinished = false;
};
