#pragma once
// The descriptors that the process services keep open between calls (process handles, the
// kernel-thread registry), counted against the soft RLIMIT_NOFILE. A share of the limit stays
// free for the rest of the program: the event log, the window system, dialogs and the brief
// opens of /proc that every pass makes. Past that share a holder does without kept
// descriptors and reads by path instead. Thread-safe.

namespace platform::procfs {

// Reserves `count` descriptors to keep open. False when that would eat into the share left
// for the rest of the program; the shortage is then remembered (DescriptorsRanShort).
bool TryHoldDescriptors(int count);

// Gives back descriptors reserved by TryHoldDescriptors once they are closed.
void ReleaseDescriptors(int count);

// Records a shortage met otherwise (an open that failed for lack of descriptors).
void NoteDescriptorShortage();

} // namespace platform::procfs
