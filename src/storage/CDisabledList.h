#pragma once
// The disabled-process list and its file BlackList.log: each entry's bytes followed by one
// "|", nothing else. Loaded once at start; rewritten whole (atomically) after every change.

#include <cstddef>
#include <string>
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
    std::string m_path; // full path of BlackList.log; empty: Load and Save do nothing

    // Replaces the entries with the file's pieces before each "|" (a zero byte ends the
    // reading). A missing, empty or unreadable file leaves the entries unchanged.
    void Load();
    // Writes every entry and its "|" to a temporary file beside m_path and renames it over
    // the old file; on any failure the old file stays whole. Returns whether it was written.
    bool Save();
    // Trims C-locale white space at both ends, lower-cases, appends and saves. An empty
    // result, or a name containing "|" or a zero byte (the next load would split or cut it,
    // losing the entries after it), is not added. No check for duplicates.
    void Add(const std::string& name);
    // Trims and lower-cases a copy of `name` and compares it exactly with each entry; an
    // empty probe is never held.
    bool Contains(const std::string& name) const;
    void RemoveAt(std::size_t index); // caller checks the index; does not save
    void RemoveAll();                 // memory only; does not save
    std::size_t GetSize() const;
    const std::string& GetAt(std::size_t index) const;

private:
    std::vector<std::string> m_entries;
};
