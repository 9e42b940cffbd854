#pragma once
// The disabled-process list and its file BlackList.log: each entry's bytes followed by one
// "|", nothing else. Loaded once at start; rewritten whole (atomically) after every change.

#include <cstddef>
#include <string>
#include <vector>

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
    // result, or a name containing "|", is not added. No check for duplicates.
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
