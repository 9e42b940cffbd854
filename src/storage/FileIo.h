#pragma once
// Whole-file reads and atomic whole-file replacement for the files of the program directory
// (the settings, the disabled list, and the event log when its dialog saves it).

#include <string>
#include <string_view>

// Reads every byte of the regular file `path` into `bytes`. False (and `bytes` untouched)
// when the file is missing, cannot be opened or read, or its content cannot be held in
// memory; an empty file gives true and an empty `bytes`.
bool ReadWholeFile(const std::string& path, std::string& bytes);

// Replaces `path` with exactly `bytes`: a temporary file in the same directory is written,
// flushed to the disk and renamed over `path`, so a reader sees either the old file or the
// new one, never a part. On any failure the temporary file is removed, the old file stays
// byte for byte as it was, and false is returned. A symbolic link at `path` is followed, so
// the link stays and its target is replaced. The new file keeps the old file's permission
// bits, or gets 0666 less the umask when there was none.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes);
