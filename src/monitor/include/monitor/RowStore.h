#pragma once
// The rows of the process table as typed fields, and their six texts formatted on demand.
//
// One writer (the monitor, under its lock) and any number of readers on other threads (the
// window's model), without a lock between them:
// - rows are only appended and never move; a row is complete before the count that covers
//   it is published (release), and a reader reads only rows below a count it has loaded;
// - a field that may change after publication is an atomic, written with release and read
//   with acquire, so a reader sees the old or the new value of each field. The monitor's
//   change batch that follows tells the reader to read the row again.
// Interned names and paths are published the same way: a string is complete before any row
// holds its identifier.

#include "platform/ProcessServices.h"
#include "storage/StringTable.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>

// The columns of a row, in display order.
enum Column : int { ColName, ColPid, ColStart, ColFinish, ColCpu, ColFile, ColumnCount };

class RowStore;

// Which side of its column a cell's text keeps to.
enum class ColumnAlign { Left, Right };

// One column: everything the window, its model and the event log know of it.
struct ColumnFacts {
    Column column;
    StringId title;
    // Width at every start, in the pixels of the 8-point dialog font it was chosen for; what
    // the user drags is not kept.
    int width;
    ColumnAlign align;
    // The cell's text for a row below the store's count (RowStore::CellText says how it reads).
    std::string (*text)(const RowStore& rows, int row);
};

// The six columns, row i describing column i.
extern const ColumnFacts kColumns[ColumnCount];

// An array that only grows, by one writer, in chunks that never move; readers on other
// threads read elements below a size they loaded. Holds at most kCapacity elements.
template <class T> class AppendOnlyArray {
public:
    static constexpr std::size_t kChunkBits = 12;
    static constexpr std::size_t kChunkSize = std::size_t{1} << kChunkBits;
    static constexpr std::size_t kMaxChunks = std::size_t{1} << 15;
    static constexpr std::size_t kCapacity = kChunkSize * kMaxChunks; // 134 million

    AppendOnlyArray() : m_chunks(new std::atomic<T*>[kMaxChunks]) {}
    ~AppendOnlyArray()
    {
        const std::size_t size = m_size.load(std::memory_order_relaxed);
        for (std::size_t i = 0; i < size; ++i)
            Slot(i)->~T();
        for (std::size_t c = 0; c < kMaxChunks; ++c) {
            T* chunk = m_chunks[c].load(std::memory_order_relaxed);
            if (!chunk)
                break;
            ::operator delete(chunk, std::align_val_t{alignof(T)});
        }
    }
    AppendOnlyArray(const AppendOnlyArray&) = delete;
    AppendOnlyArray& operator=(const AppendOnlyArray&) = delete;

    // The published size (acquire): every element below it is complete.
    std::size_t Size() const { return m_size.load(std::memory_order_acquire); }

    const T& operator[](std::size_t i) const { return *Slot(i); }
    T& operator[](std::size_t i) { return *Slot(i); }

    // Writer only. Constructs the next element and publishes it; returns its index, or
    // kCapacity when the array is full (nothing is appended then).
    template <class... Args> std::size_t Append(Args&&... args)
    {
        const std::size_t i = m_size.load(std::memory_order_relaxed);
        if (i >= kCapacity)
            return kCapacity;
        std::atomic<T*>& chunk = m_chunks[i >> kChunkBits];
        if (!chunk.load(std::memory_order_relaxed)) {
            // Raw memory: a chunk's pages are touched only as its elements are built.
            chunk.store(static_cast<T*>(::operator new(sizeof(T) * kChunkSize,
                                                       std::align_val_t{alignof(T)})),
                        std::memory_order_release);
        }
        new (Slot(i)) T(std::forward<Args>(args)...);
        m_size.store(i + 1, std::memory_order_release);
        return i;
    }

private:
    T* Slot(std::size_t i) const
    {
        return m_chunks[i >> kChunkBits].load(std::memory_order_acquire) + (i & (kChunkSize - 1));
    }

    std::unique_ptr<std::atomic<T*>[]> m_chunks;
    std::atomic<std::size_t> m_size{0};
};

// Interned strings: each distinct text is kept once and named by a small number.
class StringPool {
public:
    static constexpr std::uint32_t kEmpty = 0;   // ""
    static constexpr std::uint32_t kUnknown = 1; // "unknown"
    static constexpr std::uint32_t kSystem = 2;  // "System"

    StringPool();
    // Writer only: the identifier of `text`, added when new.
    std::uint32_t Intern(std::string_view text);
    // Any thread, for an identifier read from a published row.
    std::string_view Get(std::uint32_t id) const;

private:
    AppendOnlyArray<std::string> m_strings;
    std::unordered_map<std::string_view, std::uint32_t> m_ids; // writer only; views into m_strings
};

// One row. pid and creation never change; the rest may, through the table's rules.
struct StoredRow {
    enum Flag : std::uint32_t {
        kLive = 1u << 0,       // its process is watched (it has a record and a handle)
        kEnded = 1u << 1,      // its process has ended: the finish time is set
        kUnnamed = 1u << 2,    // its name is "unknown": the process could not be named
        kStartShown = 1u << 3, // the start time is shown (not before the row has a name)
        kLoadShown = 1u << 4,  // a load has been measured and is shown
        // its name is "unknown" or "System", which stand in for one not read: the name is
        // read again at every pass
        kStandInName = 1u << 5,
    };

    StoredRow(std::uint32_t pid_, platform::FileTime creation_, std::uint32_t name_,
              std::uint32_t path_, std::uint32_t image_, std::uint32_t flags_)
        : pid(pid_), creation(creation_), name(name_), path(path_), image(image_), flags(flags_)
    {
    }

    const std::uint32_t pid;
    const platform::FileTime creation; // 0 when not known
    std::atomic<std::uint32_t> name;   // StringPool identifiers
    std::atomic<std::uint32_t> path;
    std::atomic<std::uint32_t> image;
    std::atomic<std::uint32_t> flags;
    std::atomic<std::int32_t> load{0};      // percent, shown while kLoadShown
    std::atomic<platform::FileTime> finish{0}; // set with kEnded
};

class RowStore {
public:
    // Any thread: the published row count, and the fields and texts of rows below it.
    int Count() const { return static_cast<int>(m_rows.Size()); }
    const StoredRow& Row(int row) const { return m_rows[static_cast<std::size_t>(row)]; }
    std::uint32_t Flags(int row) const { return Row(row).flags.load(std::memory_order_acquire); }
    std::string_view Name(int row) const;
    std::string_view Path(int row) const;
    int Image(int row) const;

    // The text of a cell, byte for byte as the window shows it and the log writes it:
    // name; pid in decimal; start and finish as "MM/DD/YYYY hh:mm:ss" in the UTC offset in
    // force now (" " for an unknown start time, "" while not shown or not ended); load as
    // "%d %" ("" until measured); path. Empty for a row or column out of range.
    std::string CellText(int row, int column) const;

    // Writer only.
    int Append(std::uint32_t pid, platform::FileTime creation, std::string_view name,
               std::string_view path, int image, std::uint32_t flags);
    StoredRow& Mutable(int row) { return m_rows[static_cast<std::size_t>(row)]; }
    std::uint32_t Intern(std::string_view text) { return m_strings.Intern(text); }
    std::string_view String(std::uint32_t id) const { return m_strings.Get(id); }

private:
    AppendOnlyArray<StoredRow> m_rows;
    StringPool m_strings;
};

// "%d %": the load as a signed number, a blank and a percent sign.
std::string LoadText(std::int32_t load);
