#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/temporaries.h"

namespace {

// What a console interrupt ends a process with.
constexpr UINT INTERRUPTED = 0xC000013A;

// The console handler runs on a thread of its own: the temporaries and the
// hold change only under this lock.
SRWLOCK lock = SRWLOCK_INIT;
bool held = false;
bool pending = false;
UINT console_page = 0;
// The system's words for the last failure, and whether memory ran short.
char reason[1024];
bool memory_short = false;
constexpr const char* NOT_REGULAR = "Not a regular file";
// A helper's stack, as Windows gives a thread by default.
constexpr unsigned HELPER_STACK_BYTES = 1u << 20;
// Names for the calls that move and remove files, converted under the lock
// into fixed buffers: the commit and the clean-up after memory ran out
// allocate nothing.
constexpr int WIDE_NAME_CHARS = 32768;
wchar_t wide_from[WIDE_NAME_CHARS];
wchar_t wide_to[WIDE_NAME_CHARS];

void set_reason(const char* text, bool memory) {
  std::snprintf(reason, sizeof reason, "%s", text);
  memory_short = memory;
}

// Whether `text` fits the buffer, converted.
bool to_wide(const std::string& text, wchar_t* out) {
  return MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out, WIDE_NAME_CHARS) > 0;
}

struct locked {
  locked() { AcquireSRWLockExclusive(&lock); }
  ~locked() { ReleaseSRWLockExclusive(&lock); }
  locked(const locked&) = delete;
  locked& operator=(const locked&) = delete;
};

std::wstring wide(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), w.data(), n);
  return w;
}

std::string narrow(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, s.data(), n, nullptr, nullptr);
  return s;
}

void restore_console_page() {
  if (console_page != 0) SetConsoleOutputCP(console_page);
}

// Called with the lock held.
void remove_registered() {
  for (int place = 0; place < TEMPORARY_MAX; ++place) {
    const char* t = temporary_at(place);
    if (t[0] != '\0' && MultiByteToWideChar(CP_UTF8, 0, t, -1, wide_from, WIDE_NAME_CHARS) > 0) DeleteFileW(wide_from);
  }
  // Then the folders the files were made in.
  for (int place = 0; place < TEMPORARY_MAX; ++place) {
    const char* t = temporary_at(place);
    if (t[0] != '\0' && MultiByteToWideChar(CP_UTF8, 0, t, -1, wide_from, WIDE_NAME_CHARS) > 0)
      RemoveDirectoryW(wide_from);
  }
  forget_temporaries();
}

// Called with the lock held: nothing can be registered meanwhile, and the
// process ends without running anything that could wait on the main thread.
[[noreturn]] void remove_temporaries_and_end() {
  remove_registered();
  restore_console_page();
  TerminateProcess(GetCurrentProcess(), INTERRUPTED);
  ExitProcess(INTERRUPTED);
}

BOOL WINAPI on_console_event(DWORD event) {
  {
    const locked guard;
    if (!held) remove_temporaries_and_end();
    pending = true;
  }
  // Windows ends the process as soon as the handler of a closed console,
  // a logoff or a shutdown returns: wait for the hold to end instead, when
  // every output is in place and the process ends.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(INFINITE);
  return TRUE;
}

std::FILE* create_new(const std::string& name, bool& taken) {
  const std::wstring w = wide(name);
  // Shared for deletion, so that an interrupt can remove it while it is written.
  HANDLE h = CreateFileW(w.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  taken = h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
  if (h == INVALID_HANDLE_VALUE) {
    record_failure();
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  std::FILE* out = fd < 0 ? nullptr : _fdopen(fd, "wb");
  if (out == nullptr) {
    record_failure(errno == ENOMEM ? ENOMEM : EMFILE);
    if (fd < 0) CloseHandle(h);
    if (fd >= 0) _close(fd);
    DeleteFileW(w.c_str());
  }
  return out;
}

bool make_new_folder(const std::string& name, bool& taken) {
  const bool made = CreateDirectoryW(wide(name).c_str(), nullptr) != 0;
  taken = !made && GetLastError() == ERROR_ALREADY_EXISTS;
  if (!made) record_failure();
  return made;
}

file_identity identity_from(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(h, &info) == 0) return {};
  return {true, info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

}  // namespace

void prepare_process() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // Names are UTF-8 throughout; a console shows them as such.
  const UINT page = GetConsoleOutputCP();
  if (page != 0 && page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8) != 0) {
    console_page = page;
    std::atexit(restore_console_page);
  }
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide_args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide_args == nullptr) return {argv, argv + argc};
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(narrow(wide_args[i]));
  LocalFree(wide_args);
  return args;
}

std::FILE* open_input(const std::string& name, file_identity& id, std::int64_t& size) {
  // Opening a folder is refused as access denied; say what it is instead.
  if (is_directory(name)) {
    set_reason(NOT_REGULAR, false);
    return nullptr;
  }
  HANDLE h = CreateFileW(wide(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    record_failure();
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info;
  int fd = -1;
  // Only files on disk: a pipe or a device (CON, NUL) is refused.
  const bool regular = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) != 0 &&
                       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (regular) fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  std::FILE* in = fd < 0 ? nullptr : _fdopen(fd, "rb");
  if (in == nullptr) {
    if (regular) record_failure(errno == ENOMEM ? ENOMEM : EMFILE);
    if (!regular) set_reason(NOT_REGULAR, false);
    // Once it has a descriptor, the handle is closed with it.
    if (fd < 0) CloseHandle(h);
    if (fd >= 0) _close(fd);
    return nullptr;
  }
  id = identity_from(h);
  size = static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  return in;
}

bool seek_to(std::FILE* f, std::int64_t offset, int whence) { return _fseeki64(f, offset, whence) == 0; }

std::int64_t position_of(std::FILE* f) { return _ftelli64(f); }

std::size_t folder_length(const std::string& name) { return name.find_last_of("/\\:") + 1; }

file_identity identity_of(const std::string& name) {
  // No access asked for: a file open elsewhere still tells who it is.
  HANDLE h = CreateFileW(wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  const file_identity id = identity_from(h);
  CloseHandle(h);
  return id;
}

bool is_directory(const std::string& name) {
  const DWORD attributes = GetFileAttributesW(wide(name).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool name_exists(const std::string& name) { return GetFileAttributesW(wide(name).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool is_write_protected(const std::string& name) {
  const DWORD attributes = GetFileAttributesW(wide(name).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::FILE* create_temporary(const std::string& beside, std::string& name, bool old_output) {
  const locked guard;
  return create_remembered(beside, GetCurrentProcessId(), create_new, name, old_output);
}

void remove_temporaries() {
  const locked guard;
  remove_registered();
}

bool remove_file(const std::string& name) {
  const locked guard;
  forget_temporary(name);
  if (!to_wide(name, wide_from)) {
    record_failure(ENAMETOOLONG);
    return false;
  }
  if (DeleteFileW(wide_from) != 0) return true;
  record_failure();
  return false;
}

bool replace_file(const std::string& from, const std::string& to) {
  const locked guard;
  if (!to_wide(from, wide_from) || !to_wide(to, wide_to)) {
    record_failure(ENAMETOOLONG);
    return false;
  }
  if (MoveFileExW(wide_from, wide_to, MOVEFILE_REPLACE_EXISTING) == 0) {
    record_failure();
    return false;
  }
  forget_temporary(from);
  forget_temporary(to);
  return true;
}

bool create_temporary_folder(const std::string& beside, std::string& name) {
  const locked guard;
  return create_remembered_folder(beside, GetCurrentProcessId(), make_new_folder, name);
}

std::FILE* create_file_in(const std::string& name) {
  const locked guard;
  return create_remembered_at(name, create_new);
}

bool remove_folder(const std::string& name) {
  const std::wstring w = wide(name);
  const locked guard;
  forget_temporary(name);
  if (RemoveDirectoryW(w.c_str()) != 0) return true;
  record_failure();
  return false;
}

bool rename_folder(const std::string& from, const std::string& to) {
  const std::wstring f = wide(from);
  const std::wstring t = wide(to);
  const locked guard;
  // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists.
  if (MoveFileExW(f.c_str(), t.c_str(), 0) == 0) {
    record_failure();
    return false;
  }
  forget_temporaries_in(from);
  return true;
}

bool rename_folder_with_file(const std::string& folder_from, const std::string& folder_to, const std::string& file_from,
                             const std::string& file_to) {
  const std::wstring folder = wide(folder_from);
  const std::wstring folder_there = wide(folder_to);
  const std::wstring file = wide(file_from);
  const std::wstring file_there = wide(file_to);
  const locked guard;
  // Without MOVEFILE_REPLACE_EXISTING a move fails when its new name exists.
  if (MoveFileExW(folder.c_str(), folder_there.c_str(), 0) == 0) {
    record_failure();
    return false;
  }
  if (MoveFileExW(file.c_str(), file_there.c_str(), 0) == 0) {
    record_failure();
    // Back to the temporary's name, which nothing else takes: an interrupt
    // or the run's clean-up finds its files where they were made.
    MoveFileExW(folder_there.c_str(), folder.c_str(), 0);
    return false;
  }
  forget_temporaries_in(folder_from);
  forget_temporary(file_from);
  return true;
}

// NTFS journals its folders' entries; a folder cannot be flushed without
// the rights of a backup program.
bool flush_folder_to_disk(const std::string&) { return true; }

// Windows writes a file's data behind the program's back; flush_to_disk waits for it.
bool start_flush(std::FILE* f) {
  if (std::fflush(f) == 0) return true;
  record_failure(errno);
  return false;
}

void watch_interrupts() { SetConsoleCtrlHandler(on_console_event, TRUE); }

bool flush_to_disk(std::FILE* f) {
  if (std::fflush(f) == 0 && _commit(_fileno(f)) == 0) return true;
  record_failure();
  return false;
}

bool same_last_component(const std::string& a, const std::string& b) {
  return CompareStringOrdinal(wide(a).c_str(), -1, wide(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

void hold_interrupts(bool hold) {
  const locked guard;
  held = hold;
  if (!held && pending) remove_temporaries_and_end();
}

void pause_one_second() { Sleep(1000); }

namespace {

bool process_running(std::uint64_t pid) {
  HANDLE h = pid > 0xFFFFFFFF
                 ? nullptr
                 : OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  // A process that exists but may not be looked at is running.
  if (h == nullptr) return pid <= 0xFFFFFFFF && GetLastError() != ERROR_INVALID_PARAMETER;
  const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return running;
}

}  // namespace

bool stopped_runs_temporaries(const std::string& folder, std::vector<std::string>& names) {
  names.clear();
  std::vector<std::string> entries;
  WIN32_FIND_DATAW found;
  HANDLE listing = FindFirstFileW(wide(folder + ".eqalign-*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_NOT_ENOUGH_MEMORY;
  do entries.push_back(narrow(found.cFileName));
  while (FindNextFileW(listing, &found) != 0);
  FindClose(listing);
  names = stopped_among(entries, process_running);
  return true;
}

const char* failure_reason() { return reason; }

void record_failure() {
  const DWORD code = GetLastError();
  // Fixed buffers: a failure is recorded without allocating.
  wchar_t text[512];
  const DWORD n = code == 0 ? 0
                            : FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                             text, sizeof text / sizeof text[0], nullptr);
  const int bytes =
      n == 0 ? 0 : WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), reason, sizeof reason - 1, nullptr, nullptr);
  // A failure of the C library alone leaves only errno.
  if (bytes <= 0) {
    record_failure(errno);
    return;
  }
  // "Reason : %s." ends the sentence itself.
  int end = bytes;
  while (end > 0 && (reason[end - 1] == '\r' || reason[end - 1] == '\n' || reason[end - 1] == ' ' || reason[end - 1] == '.'))
    --end;
  reason[end] = '\0';
  memory_short = code == ERROR_NOT_ENOUGH_MEMORY || code == ERROR_OUTOFMEMORY;
}

void record_failure(int error_number) { set_reason(std::strerror(error_number), error_number == ENOMEM); }

bool short_of_memory() { return memory_short; }

namespace {

unsigned __stdcall run_helper(void* helper) {
  const helper_thread& h = *static_cast<helper_thread*>(helper);
  h.work(h.arg);
  return 0;
}

}  // namespace

bool start_helper(helper_thread& helper, void (*work)(void*), void* arg) {
  helper.work = work;
  helper.arg = arg;
  // _beginthreadex, not CreateThread: the thread reads files through the C library.
  const std::uintptr_t handle =
      _beginthreadex(nullptr, HELPER_STACK_BYTES, run_helper, &helper, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  helper.id = handle;
  return handle != 0;
}

void join_helper(helper_thread& helper) {
  const HANDLE h = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(helper.id));
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
}
