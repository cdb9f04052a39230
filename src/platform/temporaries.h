// The temporaries of a run, which an interrupt removes: the part that both
// operating systems share. Each platform file guards the table its own way
// (blocked signals on POSIX, a lock on Windows), so that the clean-up never
// meets a name half-written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Outputs and the old files they replace, at most twice the most files.
constexpr int TEMPORARY_MAX = 20;
// Names tried for one temporary before the run gives up.
constexpr int TEMPORARY_ATTEMPTS = 100;

// Creates a temporary beside `beside` (in its folder), named as
// create_temporary says, through `create_new`, which creates a new file
// exclusively, or returns nullptr and sets `taken` when the name is in use;
// remembers it and gives its name in `name`.
std::FILE* create_remembered(const std::string& beside, unsigned long pid,
                             std::FILE* (*create_new)(const std::string& name, bool& taken), std::string& name,
                             bool old_output);

// The same for a folder, which `make_new` creates exclusively.
bool create_remembered_folder(const std::string& beside, unsigned long pid,
                              bool (*make_new)(const std::string& name, bool& taken), std::string& name);

// Creates the new file `name` itself through `create_new` and remembers it:
// a file inside a temporary folder, which must go before the folder can.
std::FILE* create_remembered_at(const std::string& name, std::FILE* (*create_new)(const std::string& name, bool& taken));

// Stops treating `name` as a temporary; every one, with forget_temporaries().
void forget_temporary(const std::string& name);
void forget_temporaries();

// Stops treating `folder` and every name inside it as temporaries.
void forget_temporaries_in(const std::string& folder);

// The temporaries held, each a name or empty; only read, so that a signal
// handler may walk them: files first, then the folders emptied of them.
const char* temporary_at(int place);

// Of the names in a folder, those of temporaries whose process is not
// `running`, in byte order.
std::vector<std::string> stopped_among(const std::vector<std::string>& entries, bool (*running)(std::uint64_t pid));
