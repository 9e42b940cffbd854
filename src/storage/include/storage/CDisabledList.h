#pragma once
// The disabled-process list and its file BlackList.log: each entry's bytes followed by one
// "|", nothing else. Loaded at start; every change is made on the file under an exclusive lock
// (read, change, write back whole), so that copies of the program sharing the file never lose
// each other's entries, and the list in memory follows the file.

#include "platform/Result.h"

#include <cstddef>
#include <optional>
#include <string>
#include <system_error>
#include <string_view>
#include <vector>

// The entries of a BlackList.log content: every piece before a "|", in order, taken as it
// stands (blanks, capitals, control bytes and empty pieces included). Whatever follows the
// last "|" is ignored; a zero byte ends the reading, so the piece holding it and all after it
// are ignored too. Never fails: any bytes give a (possibly empty) list.
std::vector<std::string> ParseDisabledList(std::string_view bytes);
// The file content for `entries`: each entry's bytes followed by one "|".
std::string SerializeDisabledList(const std::vector<std::string>& entries);
// The form in which names are stored and looked up: C-locale white space (0x09-0x0D, 0x20)
// removed at both ends, ASCII A-Z lowered; every other byte, 0x80 and above included, kept.
std::string NormalizeDisabledName(std::string_view name);

class CDisabledList {
public:
    std::string m_path; // full path of BlackList.log; empty: Load does nothing

    // Replaces the entries with the file's pieces before each "|" (a zero byte ends the
    // reading). A missing, empty or unreadable file leaves the entries unchanged; only the
    // unreadable one is a failure, whose reason is returned (the file is read under the link
    // rule of FileIo.h).
    Result<> Load();
    // Trims C-locale white space at both ends, lower-cases and appends the name to the file:
    // under an exclusive flock on the file, its entries as they are now are read, the name
    // appended and the whole written back; the list in memory becomes the result. An empty
    // result is not added (and is no failure). A name containing "|" or a zero byte is refused
    // with StorageFault::NameNotStorable: the next load would split or cut it, losing the entries
    // after it. No check for duplicates. On failure the file keeps what it held, the list in
    // memory becomes that (when it can be read), and the reason is returned.
    Result<> Add(const std::string& name);
    // Removes entry `index` of the list in memory from the file, the same way: the entry at that
    // place on disk when it is still the same name, else the first entry of that name, else
    // nothing (another copy removed it already). The list in memory then follows the file.
    Result<> Remove(std::size_t index);
    // The same for the entry `name` shown at `index` in a copy of the list (a dialog's lines).
    Result<> Remove(std::size_t index, const std::string& name);

    // Add and Remove in two steps, for an owner that keeps its lock off the file's I/O: the
    // change made on the file alone (this object is only read: its path), then adopted by the
    // list in memory, with the same outcome as Add and Remove.
    struct FileChange;
    FileChange AddOnDisk(const std::string& name) const;
    FileChange RemoveOnDisk(std::size_t index, const std::string& name) const;
    Result<> Adopt(FileChange change);
    // Holds the name, normalised, for Contains while its AddOnDisk is under way; the adoption
    // of that change lets it go, whether the file took the name or not.
    void Hold(const std::string& name);

    // Reads the file again when it has changed since this object last read or wrote it (a
    // change made by another copy of the program); an empty file is an empty list here. A file
    // that cannot be read leaves the entries as they are and returns why (a missing file is no
    // failure); it is tried again at the next call.
    Result<> Refresh();
    // Trims and lower-cases a copy of `name` and compares it exactly with each entry (and each
    // name held, see Hold); an empty probe is never held.
    bool Contains(const std::string& name) const;
    void RemoveAll();                 // memory only; does not save
    std::size_t GetSize() const;
    const std::string& GetAt(std::size_t index) const;

    struct Stamp {
        unsigned long long device = 0, inode = 0, size = 0, modified = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct FileChange {
        std::error_code error;
        // What the file holds afterwards (what it held, on failure), when it could be read.
        std::optional<std::vector<std::string>> entries;
        Stamp stamp; // of the file written; empty on failure
        std::string added; // the entry an add wrote, or tried to
    };

private:
    // The file's stamp now; ENOENT for a missing file.
    Result<Stamp> CurrentStamp() const;
    template <class Change>
    FileChange ChangeOnDisk(Change change) const;

    std::vector<std::string> m_entries;
    std::vector<std::string> m_held; // see Hold
    Stamp m_stamp; // of the file as last read or written
};
