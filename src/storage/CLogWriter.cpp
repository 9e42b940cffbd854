#include "storage/CLogWriter.h"

#include "platform/FileIo.h"
#include "storage/CEventLogFile.h"
#include "storage/StorageFault.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace {

enum Kind : int {
    kEntry,      // counted against the bound
    kBanner,     // never dropped
    kOpen,       // failure told through the callback
    kOpenWaited, // failure given to the caller
    kClose,
    kRunClosed,
    kMark, // nothing to do: tells a caller that everything before it is done
};

bool IsEntry(int kind)
{
    return kind == kEntry || kind == kBanner;
}

} // namespace

// A command whose caller waits for it. Guarded by State::lock.
struct CLogWriter::Handshake {
    enum Stage { Queued, Started, Done, GivenUp } stage = Queued;
    std::error_code result; // kOpenWaited: why the log could not be opened
    bool closed = false;     // kRunClosed: the log is closed, the caller's operation may run
    bool callerDone = false; // kRunClosed: the operation has run
};

struct CLogWriter::State {
    struct Command {
        int kind;
        std::string text;
        std::shared_ptr<Handshake> handshake;
    };

    State(std::string path, Limits bound) : limits(bound) { log.m_path = std::move(path); }

    void Run();
    void Carry(const Command& command, const std::function<void()>& hook);
    void TellFailure();

    const Limits limits;
    CEventLogFile log; // the writer's thread only

    std::mutex lock; // everything below; never held across I/O
    std::condition_variable wake;   // the writer: something queued, or the end
    std::condition_variable answer; // callers: a command started or finished
    std::deque<Command> queue;
    std::size_t queuedEntries = 0;
    std::size_t queuedBytes = 0;
    std::uint64_t dropped = 0;  // for a full queue, not yet told
    std::uint64_t finished = 0; // commands carried out, for Finish's test of progress
    int carrying = -1;          // the kind of the command under way, -1 while idle
    bool ending = false;        // Finish: stop once the queue is empty
    std::function<void()> writeHook;

    std::mutex callbackLock; // held while a callback runs, so that Finish can drop them
    Callbacks callbacks;
};

void CLogWriter::State::TellFailure()
{
    const Result<> failure = log.TakeFailure();
    if (failure)
        return;
    std::lock_guard held(callbackLock);
    if (callbacks.failure)
        callbacks.failure(failure.error());
}

void CLogWriter::State::Run()
{
    std::unique_lock held(lock);
    for (;;) {
        wake.wait(held, [this] { return !queue.empty() || ending; });
        if (queue.empty())
            break;
        const Command command = std::move(queue.front());
        queue.pop_front();
        if (IsEntry(command.kind)) {
            --queuedEntries;
            queuedBytes -= command.text.size();
        }
        if (command.handshake) {
            if (command.handshake->stage == Handshake::GivenUp) {
                ++finished;
                answer.notify_all();
                continue;
            }
            command.handshake->stage = Handshake::Started;
        }
        carrying = command.kind;
        const std::function<void()> hook = writeHook;
        held.unlock();
        Carry(command, hook);
        held.lock();
        carrying = -1;
        ++finished;
        if (command.handshake && command.handshake->stage == Handshake::Started)
            command.handshake->stage = Handshake::Done;
        // Waiters want their own command, or the end of the queue: not every entry.
        if (command.handshake || queue.empty())
            answer.notify_all();
        if (queue.empty() && dropped > 0) {
            // The backlog is gone: the number dropped while it lasted is final.
            const std::uint64_t count = std::exchange(dropped, 0);
            held.unlock();
            {
                std::lock_guard told(callbackLock);
                if (callbacks.dropped)
                    callbacks.dropped(count);
            }
            held.lock();
        }
    }
    held.unlock();
    // A log left open by an owner that never closed it: nobody waits to be told any more.
    (void)log.Close();
}

void CLogWriter::State::Carry(const Command& command, const std::function<void()>& hook)
{
    switch (command.kind) {
    case kEntry:
    case kBanner:
        if (hook)
            hook();
        (void)log.Write(command.text); // a failure is kept by the log and told below
        TellFailure();
        break;
    case kOpen:
        (void)log.Open(); // a failure is kept by the log and told below
        TellFailure();
        break;
    case kOpenWaited: {
        const bool wasOpen = log.IsOpen();
        const std::error_code error = log.Open().error();
        (void)log.TakeFailure(); // the caller tells it
        bool givenUp = false;
        {
            std::lock_guard held(lock);
            givenUp = command.handshake->stage == Handshake::GivenUp;
            if (!givenUp) {
                command.handshake->result = error;
                command.handshake->stage = Handshake::Done;
            }
        }
        // The caller has already said that the log stays as it was.
        if (givenUp && !wasOpen) {
            (void)log.Close(); // a failure is kept by the log and told below
            TellFailure();
        }
        break;
    }
    case kClose:
        (void)log.Close(); // a failure is kept by the log and told below
        TellFailure();
        break;
    case kRunClosed:
        // The operation is the caller's, on its own thread: the log stays closed until the
        // caller is done with it (or gave up before it began). The failures of the close and of
        // the open again are kept by the log and told each after its step.
        (void)log.RunClosed([&](const std::string&) {
            TellFailure();
            std::unique_lock held(lock);
            command.handshake->closed = true;
            answer.notify_all();
            answer.wait(held, [&] {
                return command.handshake->callerDone || command.handshake->stage == Handshake::GivenUp;
            });
        });
        TellFailure();
        break;
    case kMark:
        break;
    }
}

CLogWriter::CLogWriter(std::string path, Limits limits)
    : m_path(path)
    , m_state(std::make_shared<State>(std::move(path), limits))
{
    m_thread = std::thread([state = m_state] { state->Run(); });
}

CLogWriter::~CLogWriter()
{
    (void)Finish();
}

void CLogWriter::SetCallbacks(Callbacks callbacks)
{
    std::lock_guard held(m_state->callbackLock);
    m_state->callbacks = std::move(callbacks);
}

void CLogWriter::SetWriteHookForTesting(std::function<void()> hook)
{
    std::lock_guard held(m_state->lock);
    m_state->writeHook = std::move(hook);
}

void CLogWriter::Enqueue(int kind, std::string text, std::shared_ptr<Handshake> handshake)
{
    // The caller holds m_state->lock.
    if (IsEntry(kind)) {
        ++m_state->queuedEntries;
        m_state->queuedBytes += text.size();
    }
    m_state->queue.push_back({kind, std::move(text), std::move(handshake)});
    m_state->wake.notify_one();
}

Result<> CLogWriter::Write(std::string entry)
{
    if (entry.empty())
        return {};
    std::lock_guard held(m_state->lock);
    if (m_state->ending)
        return std::errc::operation_canceled;
    if (m_state->queuedEntries >= m_state->limits.entries ||
        m_state->queuedBytes + entry.size() > m_state->limits.bytes) {
        ++m_state->dropped;
        return std::errc::no_buffer_space;
    }
    Enqueue(kEntry, std::move(entry), nullptr);
    return {};
}

void CLogWriter::WriteBanner(std::string entry)
{
    std::lock_guard held(m_state->lock);
    if (!m_state->ending && !entry.empty())
        Enqueue(kBanner, std::move(entry), nullptr);
}

void CLogWriter::Open()
{
    std::lock_guard held(m_state->lock);
    if (!m_state->ending)
        Enqueue(kOpen, {}, nullptr);
}

void CLogWriter::Close()
{
    std::lock_guard held(m_state->lock);
    if (!m_state->ending)
        Enqueue(kClose, {}, nullptr);
}

bool CLogWriter::WaitForTurn(int kind, const std::shared_ptr<Handshake>& handshake,
                             std::chrono::milliseconds limit)
{
    std::unique_lock held(m_state->lock);
    if (m_state->ending)
        return false;
    Enqueue(kind, {}, handshake);
    // RunClosed may go on once the log is closed; the others when the writer is done.
    const bool reached = m_state->answer.wait_for(held, limit, [&] {
        return kind == kRunClosed ? handshake->closed : handshake->stage == Handshake::Done;
    });
    if (!reached) {
        handshake->stage = Handshake::GivenUp;
        m_state->answer.notify_all();
    }
    return reached;
}

Result<> CLogWriter::OpenAndWait(std::chrono::milliseconds limit)
{
    auto handshake = std::make_shared<Handshake>();
    if (!WaitForTurn(kOpenWaited, handshake, limit))
        return StorageFault::LogBusy;
    std::lock_guard held(m_state->lock);
    return handshake->result;
}

Result<> CLogWriter::RunClosed(const std::function<void(const std::string& path)>& operation,
                               std::chrono::milliseconds limit)
{
    auto handshake = std::make_shared<Handshake>();
    if (!WaitForTurn(kRunClosed, handshake, limit))
        return StorageFault::LogBusy;
    // The writer goes on (and opens the log again) also when the operation throws.
    struct CallerDone {
        State& state;
        Handshake& handshake;
        ~CallerDone()
        {
            std::lock_guard held(state.lock);
            handshake.callerDone = true;
            state.answer.notify_all();
        }
    } done{*m_state, *handshake};
    operation(m_path);
    return {};
}

Result<> CLogWriter::Flush(std::chrono::milliseconds limit)
{
    {
        std::lock_guard held(m_state->lock);
        if (m_state->queue.empty() && m_state->carrying < 0)
            return {};
    }
    if (!WaitForTurn(kMark, std::make_shared<Handshake>(), limit))
        return StorageFault::LogBusy;
    return {};
}

std::uint64_t CLogWriter::Finish(std::chrono::milliseconds stall)
{
    if (m_bFinished)
        return 0;
    m_bFinished = true;
    std::uint64_t lost = 0;
    bool stuck = false;
    {
        std::unique_lock held(m_state->lock);
        m_state->ending = true;
        m_state->wake.notify_all();
        const auto idle = [this] { return m_state->queue.empty() && m_state->carrying < 0; };
        // As long as the writer gets on, however long the backlog; not once it stops.
        for (std::uint64_t seen = m_state->finished; !m_state->answer.wait_for(held, stall, idle);
             seen = m_state->finished) {
            if (m_state->finished == seen) {
                stuck = true;
                break;
            }
        }
        if (stuck) {
            // The entry under way is not counted: it lands if the disk ever takes it.
            for (const State::Command& command : m_state->queue)
                lost += IsEntry(command.kind) ? 1 : 0;
            m_state->queue.clear();
            m_state->queuedEntries = m_state->queuedBytes = 0;
        }
    }
    // A writer that got through ends now, after any callback it had left to make. One held by
    // the disk ends by itself when the disk lets it go (it owns its state), telling nobody.
    if (!stuck)
        m_thread.join();
    {
        std::lock_guard held(m_state->callbackLock);
        m_state->callbacks = {};
    }
    if (stuck)
        m_thread.detach();
    std::lock_guard held(m_state->lock);
    return lost + std::exchange(m_state->dropped, 0);
}
