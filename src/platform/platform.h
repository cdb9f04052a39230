// What differs between operating systems: opening inputs, file identity,
// 64-bit positions, the console, outputs that replace old files in one step,
// the clean-up of an interrupted run, and the vector units the CPU offers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A file on disk, however its name is spelled: device and inode on POSIX,
// volume serial number and file index on Windows.
struct file_identity {
  bool known = false;
  std::uint64_t device = 0;
  std::uint64_t index = 0;
};

inline bool same_file(const file_identity& a, const file_identity& b) {
  return a.known && b.known && a.device == b.device && a.index == b.index;
}

// Makes the standard streams safe: binary on Windows, so that every line ends
// in exactly "\r\n"; on POSIX, descriptors 0 to 2 can never become an input or
// an output, and a closed pipe makes a write fail instead of killing the run;
// with glibc, threads share one heap (see platform-posix.cc).
void prepare_process();

// The command-line arguments, the program name first, as UTF-8 text.
std::vector<std::string> utf8_arguments(int argc, char** argv);

// Opens a regular file for binary reading without waiting on a fifo or a
// device; returns nullptr for anything else, its reason recorded.
std::FILE* open_input(const std::string& name, file_identity& id, std::int64_t& size);

// Seeks and tells in 64 bits.
bool seek_to(std::FILE* f, std::int64_t offset, int whence);
std::int64_t position_of(std::FILE* f);

// Length of the folder part of a name, its last separator included; 0 when
// the name has none.
std::size_t folder_length(const std::string& name);

// The file or folder a name reaches, links followed; unknown when there is none.
file_identity identity_of(const std::string& name);
bool is_directory(const std::string& name);
// Whether anything stands at the name, a dangling link included.
bool name_exists(const std::string& name);
// Whether a file stands at the name that this user may not replace: one he
// may not write to (POSIX), or one marked read-only (Windows).
bool is_write_protected(const std::string& name);
// Whether two last components of names reach the same entry of one folder:
// byte for byte on Linux; ignoring case on Windows and macOS, whose file
// systems usually do.
bool same_last_component(const std::string& a, const std::string& b);

// Creates a new empty file in the folder of `beside`, under a name nothing
// else uses, with the permissions a plain create gives; an interrupt removes
// it until it is moved, removed or a file is moved onto it. The name says what
// it will hold: `.eqalign-<process>-<n>.tmp` for an output being written;
// with `old_output`, `.eqalign-<process>-<n>.old.<last component of beside>`,
// a place for the old file at `beside`, so that a stopped run's note can say
// which output it holds.
std::FILE* create_temporary(const std::string& beside, std::string& name, bool old_output = false);
// Into `names`, the names in `folder` ("" for the current one) of temporaries
// whose run is no longer going (killed, or its machine stopped), in byte
// order; false when memory ran short.
bool stopped_runs_temporaries(const std::string& folder, std::vector<std::string>& names);
// The output whose old file a temporary holds, as its name records it: the
// last component, or, when that was too long for the name, its start, which
// never ends in ".raw"; empty for an output's own temporary.
std::string output_held_by(const std::string& temporary);
// Removes every temporary that the run still holds, as an interrupt does,
// without ending the process; allocates nothing, so it serves when memory
// has run out.
void remove_temporaries();
// Hands what was written through `f` to the system and has it start writing
// that to the disk, without waiting (where the system can: Linux), so that
// the disk works while the run goes on.
bool start_flush(std::FILE* f);
// Flushes a file written through `f` to the disk and waits until it is
// there, so that it survives a power loss once it has replaced an old one.
bool flush_to_disk(std::FILE* f);
// Removes a file or a link (never a folder).
bool remove_file(const std::string& name);
// Moves `from` over `to` in one step; a file or a link at `to` is replaced.
bool replace_file(const std::string& from, const std::string& to);

// A folder written as a whole, then moved into place in one step: created
// beside `beside` (in its folder) under a temporary's name that nothing else
// uses; until it is renamed or removed, an interrupt removes it and every
// file made in it by create_file_in.
bool create_temporary_folder(const std::string& beside, std::string& name);
// Creates the new file `name` (in a temporary folder) exclusively, with the
// permissions a plain create gives; an interrupt removes it.
std::FILE* create_file_in(const std::string& name);
// Removes an empty folder, which is then no temporary any more.
bool remove_folder(const std::string& name);
// Moves the folder `from` to `to` in one step, failing when anything stands
// at `to`; nothing in it is a temporary any more.
bool rename_folder(const std::string& from, const std::string& to);
// Moves the folder `folder_from` to `folder_to` and the file `file_from` (a
// temporary, closed) to `file_to`, each failing when anything stands at its
// new name: both, or neither, the folder moved back when the file cannot
// follow it. An interrupt waits until it is done; then nothing moved is a
// temporary any more.
bool rename_folder_with_file(const std::string& folder_from, const std::string& folder_to, const std::string& file_from,
                             const std::string& file_to);
// Flushes a folder's entries to the disk, so that the names in it survive a
// power loss.
bool flush_folder_to_disk(const std::string& folder);

// From now on an interrupt (SIGINT, SIGTERM, SIGHUP or SIGQUIT; Ctrl-C,
// Ctrl-Break or a closed console on Windows) removes the temporaries, then
// ends the process by that signal.
void watch_interrupts();
// While held, an interrupt waits, so that the outputs are replaced or put
// back as a whole; once the hold ends, it ends the process.
void hold_interrupts(bool hold);

void pause_one_second();

// Why the last call here that failed did so, in the system's words ("No
// space left on device"), for "Reason : %s.". A failed call of the C library
// elsewhere is recorded by record_failure() right after it; an error number
// of the C library (EISDIR, say) by record_failure(number). Kept in a fixed
// buffer: recording a failure allocates nothing.
const char* failure_reason();
void record_failure();
void record_failure(int error_number);
// Whether the last failure recorded was for want of memory (ENOMEM): the C
// library's allocations fail so, not by std::bad_alloc.
bool short_of_memory();

// A thread besides the caller's, with a stack of its own that goes with it
// when it is joined: none is kept for later threads, so that a helper that
// has ended leaves all its memory to the caller.
struct helper_thread {
  void (*work)(void*) = nullptr;
  void* arg = nullptr;
  // The system's handle of the thread, and its stack (POSIX).
  std::uint64_t id = 0;
  void* stack = nullptr;
};
// Starts work(arg) on `helper`; false when no thread can be had.
bool start_helper(helper_thread& helper, void (*work)(void*), void* arg);
// Waits for a started helper to end.
void join_helper(helper_thread& helper);

// The vector units of an x86-64 CPU that the OS also saves across a thread
// switch, read once; all false on other CPUs.
struct cpu_features {
  bool avx;
  bool avx2;
  bool avx512f;
};
cpu_features read_cpu_features();
