#include "tests/support/testfiles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  std::mt19937_64 random(std::random_device{}() ^
                         static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100 && path.empty(); attempt++) {
    char name[32];
    snprintf(name, sizeof name, "pelmar-test-%08x", static_cast<unsigned>(random()));
    if (fs::create_directory(base / name, error)) path = (base / name).string();
  }
  if (path.empty()) {
    fprintf(stderr, "cannot make a temporary folder in %s\n", base.string().c_str());
    abort();
  }
}

TempFolder::~TempFolder() {
  std::error_code error;
  fs::remove_all(path, error);
  if (error) fprintf(stderr, "cannot remove %s: %s\n", path.c_str(), error.message().c_str());
}

TempCurrentFolder::TempCurrentFolder() : previous(fs::current_path().string()) { fs::current_path(folder.path); }

TempCurrentFolder::~TempCurrentFolder() { fs::current_path(previous); }

void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool FileExists(const std::string &path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}

bool RemoveFile(const std::string &path) {
  std::error_code error;
  return fs::remove(path, error);
}

std::vector<std::string> FolderNames(const std::string &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool MakeHardLink(const std::string &target, const std::string &name) {
  std::error_code error;
  fs::create_hard_link(target, name, error);
  return !error;
}

#ifdef _WIN32

bool ResizeFile(const std::string &path, uint64_t length) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(length);
  const bool done = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  return done;
}

bool MakeLink(const std::string &target, const std::string &name) { return MakeHardLink(target, name); }

// One argument as the C runtime's command-line parser reads it back.
static std::string Quoted(const std::string &argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      backslashes++;
    } else if (c == '"') {
      quoted.append(backslashes + 1, '\\');
      backslashes = 0;
    } else {
      backslashes = 0;
    }
    quoted += c;
  }
  quoted.append(backslashes, '\\');
  return quoted + "\"";
}

static std::string WithoutCarriageReturns(const std::string &text) {
  std::string lines;
  for (size_t i = 0; i < text.size(); i++) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
  }
  return lines;
}

// Starts the program in folder with the three handles, and returns its exit status once it
// has ended, after reading take bytes of pipe (when not null) and closing it.
static int RunWithHandles(const std::string &folder, const std::vector<std::string> &arguments, HANDLE in, HANDLE out,
                          HANDLE err, HANDLE pipe, size_t take) {
  std::string command;
  for (const std::string &argument : arguments) command += (command.empty() ? "" : " ") + Quoted(argument);
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process;
  int status = -1;
  if (CreateProcessA(arguments[0].c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                     &process)) {
    if (pipe != nullptr) {
      CloseHandle(out);  // the child holds the writing end now
      std::string bytes(take, '\0');
      DWORD got = 0;
      for (size_t done = 0; done < take && ReadFile(pipe, &bytes[done], static_cast<DWORD>(take - done), &got, nullptr) && got > 0;) done += got;
      CloseHandle(pipe);
    }
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &code)) {
      status = static_cast<int>(code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return status;
}

// Runs the program with standard input the file input in folder (none: NUL) and standard
// error into *err; standard output into *out, or (out null) a pipe closed after take bytes.
static int Run(const std::string &folder, const std::vector<std::string> &arguments, const std::string &input,
               std::string *out, std::string *err, bool raw, size_t take) {
  TempFolder captured;
  const std::string outPath = captured.File("stdout"), errPath = captured.File("stderr");
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE outFile = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS, 0, nullptr);
  HANDLE errFile = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS, 0, nullptr);
  HANDLE inFile = CreateFileA((input.empty() ? "NUL" : folder + "/" + input).c_str(), GENERIC_READ, FILE_SHARE_READ,
                              &inherited, OPEN_EXISTING, 0, nullptr);
  HANDLE reading = nullptr, writing = nullptr;
  int status = -1;
  if (out != nullptr) {
    status = RunWithHandles(folder, arguments, inFile, outFile, errFile, nullptr, 0);
  } else if (CreatePipe(&reading, &writing, &inherited, 0)) {
    SetHandleInformation(reading, HANDLE_FLAG_INHERIT, 0);
    status = RunWithHandles(folder, arguments, inFile, writing, errFile, reading, take);
  }
  for (HANDLE h : {outFile, errFile, inFile}) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  if (out != nullptr) *out = raw ? ReadFile(outPath) : WithoutCarriageReturns(ReadFile(outPath));
  *err = WithoutCarriageReturns(ReadFile(errPath));
  return status;
}

#else

bool ResizeFile(const std::string &path, uint64_t length) {
  return truncate(path.c_str(), static_cast<off_t>(length)) == 0;
}

bool MakeLink(const std::string &target, const std::string &name) { return symlink(target.c_str(), name.c_str()) == 0; }

// Starts the program in folder with standard input from input (none: /dev/null), output and
// error to out and err (descriptors), and returns its exit status or 128 + its signal,
// after reading take bytes of pipe (when not -1) and closing it.
static int RunWithDescriptors(const std::string &folder, const std::vector<std::string> &arguments,
                              const std::string &input, int out, int err, int pipe, size_t take) {
  std::vector<std::string> copies = arguments;
  std::vector<char *> argv;
  for (std::string &argument : copies) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(126);
    dup2(open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY), 0);
    dup2(out, 1);
    dup2(err, 2);
    if (pipe >= 0) close(pipe);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pipe >= 0) {
    close(out);
    std::string bytes(take, '\0');
    for (size_t done = 0; done < take;) {
      const ssize_t got = read(pipe, &bytes[done], take - done);
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    close(pipe);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Runs the program with standard input the file input in folder (none: /dev/null) and
// standard error into *err; standard output into *out (a signal that ends the program gives
// -1), or (out null) a pipe closed after take bytes.
static int Run(const std::string &folder, const std::vector<std::string> &arguments, const std::string &input,
               std::string *out, std::string *err, bool, size_t take) {
  TempFolder captured;
  const std::string outPath = captured.File("stdout"), errPath = captured.File("stderr");
  const int outFile = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int errFile = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int ends[2] = {-1, outFile};  // where standard output is read, and written
  const bool ready = out != nullptr || pipe(ends) == 0;
  const int status = ready ? RunWithDescriptors(folder, arguments, input, ends[1], errFile, ends[0], take) : -1;
  close(outFile);
  close(errFile);
  if (out != nullptr) *out = ReadFile(outPath);
  *err = ReadFile(errPath);
  return out != nullptr && status >= 128 ? -1 : status;
}

#endif

int RunProgramIn(const std::string &folder, const std::vector<std::string> &arguments, std::string *out,
                 std::string *err, const std::string &input, bool raw) {
  return Run(folder, arguments, input, out, err, raw, 0);
}

int RunProgramIntoClosedPipe(const std::string &folder, const std::vector<std::string> &arguments, size_t take,
                             std::string *err) {
  return Run(folder, arguments, "", nullptr, err, false, take);
}
