#include "support/test_support.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace TestSupport {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "moxtest-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) std::abort();
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  // Restore write permission on anything a test locked, then remove.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    chmod(it->path().c_str(), 0700);
  chmod(path_.c_str(), 0700);
  std::filesystem::remove_all(path_, ec);
}

EnvGuard::EnvGuard(const char* name, const char* value) : name_(name) {
  const char* old = std::getenv(name);
  had_ = old != nullptr;
  if (old) old_ = old;
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

EnvGuard::~EnvGuard() {
  if (had_)
    setenv(name_.c_str(), old_.c_str(), 1);
  else
    unsetenv(name_.c_str());
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

bool FileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

int CodeOf(const std::function<void()>& fn, std::string* description) {
  try {
    fn();
  } catch (const Kiv::Util::Exception& e) {
    if (description) *description = e.GetDescription();
    return static_cast<int>(e.GetCode());
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception: " << e.what();
    return -2;
  }
  ADD_FAILURE() << "no exception was thrown";
  return -1;
}

std::string BinPath(const std::string& program) { return std::string(MOX_BIN_DIR) + "/" + program; }

namespace {
std::string Slurp(int fd) {
  std::string s;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, std::size_t(n));
  return s;
}
}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& env) {
  TempDir io;
  std::string outPath = io.File("out"), errPath = io.File("err");
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(o, 1);
    dup2(e, 2);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    for (const auto& kv : env) putenv(const_cast<char*>(kv.c_str()));
    std::string path = program.find('/') == std::string::npos ? BinPath(program) : program;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  RunResult r;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  int fo = open(outPath.c_str(), O_RDONLY), fe = open(errPath.c_str(), O_RDONLY);
  r.out = Slurp(fo);
  r.err = Slurp(fe);
  close(fo);
  close(fe);
  return r;
}

}  // namespace TestSupport
