// Checks recognising, closing and waiting for the host, the per-installation lock and the system proxy on real Win32.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/encoding.h"
#include "platform/instance_lock.h"
#include "platform/process.h"
#include "platform/system_proxy.h"
#include "platform/win32_test_support.h"

namespace velmora::platform::win32_test {
namespace {

namespace vp = velmora::platform;

class Win32HostTest : public Win32BackendTest {
 protected:
  // The test host, copied beside this test by the build, copied again into folder_.
  std::u16string CopyTestHost() const {
    const std::u16string self = OwnExecutable();
    const std::u16string host = folder_ + u"host.exe";
    const std::u16string built = self.substr(0, self.rfind(u'\\') + 1) + u"test_host.exe";
    return ::CopyFileW(win32::AsWide(built), win32::AsWide(host), FALSE) ? host : std::u16string();
  }
  // The pid the host recorded once its window exists; 0 when it never did.
  // The record is whole once its line ends.
  DWORD RecordedHostPid() const {
    std::string record;
    for (int waited = 0; waited < 30000; waited += 20) {
      record = ReadWholeFile(folder_ + u"host.pid");
      if (!record.empty() && record.back() == '\n') break;
      ::Sleep(20);
    }
    return static_cast<DWORD>(std::strtoul(record.c_str(), nullptr, 10));
  }
};

// The test host and a program without windows: recognised by their image,
// asked to close, waited for, and ended by force.
TEST_F(Win32HostTest, RecognisesAsksWaitsAndForces) {
  const std::u16string host = CopyTestHost();
  const std::u16string windowless = CopyOfSelf(u"other.exe");
  ASSERT_FALSE(host.empty() || windowless.empty());
  struct Row {
    const char* what;
    bool isHost;
    bool ignoresClose;
    std::u16string checked;
    bool recognised;
  } const rows[] = {
      {"host, by a path in other case and through ..", true, false, folder_ + u"SUB\\..\\HOST.EXE", true},
      {"host that ignores WM_CLOSE", true, true, host, true},
      {"program without windows", false, false, host, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ::DeleteFileW(win32::AsWide(folder_ + u"host.pid"));
    ::SetEnvironmentVariableW(L"VELMORA_HOST_IGNORES_STOP", row.ignoresClose ? L"1" : nullptr);
    ChildProcess child;
    const bool started = row.isHost ? child.Run(host, u"\"" + host + u"\" 60") : child.Start(windowless, u"hold", u"");
    ::SetEnvironmentVariableW(L"VELMORA_HOST_IGNORES_STOP", nullptr);
    ASSERT_TRUE(started);
    if (row.isHost) {
      ASSERT_EQ(RecordedHostPid(), child.Id());
    }
    const bool endsWhenAsked = row.isHost && !row.ignoresClose;
    EXPECT_EQ(vp::ProcessRunsProgram(child.Id(), row.checked), row.recognised);
    EXPECT_EQ(vp::AskProcessToClose(child.Id()), row.isHost);
    EXPECT_EQ(vp::WaitForProcessExit(child.Id(), endsWhenAsked ? 10000 : 300), endsWhenAsked);
    if (!endsWhenAsked) {
      EXPECT_TRUE(vp::TerminateProcessById(child.Id()) && vp::WaitForProcessExit(child.Id(), 10000));
    }
    EXPECT_FALSE(vp::ProcessRunsProgram(child.Id(), row.checked));  // ended; this test still holds its handle
    EXPECT_EQ(child.WaitForExit(0), 0u);
  }
  for (const std::uint32_t id : {0u, 4294967295u}) {
    EXPECT_FALSE(vp::ProcessRunsProgram(id, host));
    EXPECT_FALSE(vp::AskProcessToClose(id));
    EXPECT_FALSE(vp::WaitForProcessExit(id, 0));
  }
}

TEST_F(Win32HostTest, StartedProgramRunsInTheGivenWorkingFolder) {
  const std::u16string host = CopyTestHost();
  ASSERT_FALSE(host.empty());
  ASSERT_TRUE(::CreateDirectoryW(win32::AsWide(folder_ + u"work"), nullptr));
  ASSERT_TRUE(vp::StartProgram(host, u"60", folder_ + u"work"));
  const DWORD started = RecordedHostPid();
  ASSERT_NE(started, 0u);
  EXPECT_EQ(ReadWholeFile(folder_ + u"host.cwd"), vp::WideToUtf8(folder_) + "work\n");
  EXPECT_TRUE(vp::TerminateProcessById(started));
  EXPECT_TRUE(vp::WaitForProcessExit(started, 10000));
  EXPECT_TRUE(vp::WaitForProcessExit(started, 0)) << "an id that names no process has ended";
}

TEST_F(Win32HostTest, LockFileHasOneHolderWhichStartedProgramsDoNotInherit) {
  const std::u16string path = folder_ + u"Velmora.lock";
  const std::u16string child = CopyOfSelf(u"second.exe");
  const std::u16string host = CopyTestHost();
  ASSERT_FALSE(child.empty() || host.empty());
  auto exitCodeOf = [&](const char16_t* role, const std::u16string& argument) {
    ChildProcess process;
    return process.Start(child, role, argument) ? process.WaitForExit() : 99u;
  };
  vp::InstanceLock lock;
  ASSERT_EQ(lock.Acquire(path), vp::LockResult::kTaken);
  EXPECT_EQ(vp::InstanceLock().Acquire(path), vp::LockResult::kHeld);
  EXPECT_EQ(exitCodeOf(u"filelock", path), 11u);
  EXPECT_EQ(exitCodeOf(u"filelock", folder_ + u"other.lock"), 10u);
  ASSERT_TRUE(vp::StartProgram(host, u"60"));
  const DWORD started = RecordedHostPid();
  lock = vp::InstanceLock();  // given up while the started host still runs
  EXPECT_EQ(exitCodeOf(u"filelock", path), 10u);

  ChildProcess holder;
  ASSERT_TRUE(holder.Start(child, u"fileholder", path));
  for (int waited = 0; waited < 30000 && !Exists(path + u".taken"); waited += 20) ::Sleep(20);
  EXPECT_EQ(lock.Acquire(path), vp::LockResult::kHeld);
  EXPECT_TRUE(vp::TerminateProcessById(holder.Id()));
  EXPECT_EQ(holder.WaitForExit(), 0u);
  EXPECT_EQ(lock.Acquire(path), vp::LockResult::kTaken);
  std::uint32_t error = 0;
  EXPECT_EQ(vp::InstanceLock().Acquire(folder_ + u"missing\\x.lock", &error), vp::LockResult::kFailed);
  EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
  vp::TerminateProcessById(started);
}

// Only under Wine, whose user settings belong to the test's own prefix. Its
// WinHTTP reads the settings block that Windows' dialog writes, not the
// ProxyEnable and ProxyServer values.
TEST(Win32SystemProxy, StaticSettingIsChosenForTheUrlsScheme) {
  if (!RunsUnderWine()) GTEST_SKIP() << "would change this user's proxy settings";
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER,
                              L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections", 0,
                              nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  auto store = [&](DWORD flags, const std::string& proxy, const std::string& bypass) {
    // Size, version counter and flags (1 direct, 2 static proxy, 4 script,
    // 8 detect), then length-prefixed proxy, bypass and script address.
    std::string block;
    auto number = [&](std::size_t value) {
      for (int byte = 0; byte < 4; ++byte) block.push_back(static_cast<char>(value >> (8 * byte)));
    };
    for (const std::size_t value : {std::size_t{0x46}, std::size_t{1}, std::size_t{flags}}) number(value);
    number(proxy.size());
    block += proxy;
    number(bypass.size());
    block += bypass;
    for (int i = 0; i < 8; ++i) number(0);
    return ::RegSetValueExW(key, L"DefaultConnectionSettings", 0, REG_BINARY,
                            reinterpret_cast<const BYTE*>(block.data()), static_cast<DWORD>(block.size()));
  };
  ASSERT_EQ(store(3, "http=127.0.0.1:3128;https=127.0.0.1:3129", "<local>;*.example.com"), ERROR_SUCCESS);
  vp::SystemProxy proxy;
  EXPECT_TRUE(vp::GetSystemProxyFor("https://updates.example.org/app/", &proxy));
  EXPECT_EQ(proxy.proxy, "127.0.0.1:3129");
  EXPECT_EQ(proxy.bypass, "localhost,127.0.0.1,::1,.example.com");
  ASSERT_EQ(store(1, "127.0.0.1:3128", ""), ERROR_SUCCESS);
  EXPECT_FALSE(vp::GetSystemProxyFor("http://updates.example.org/app/", &proxy));
  ::RegDeleteValueW(key, L"DefaultConnectionSettings");
  ::RegCloseKey(key);
}

}  // namespace
}  // namespace velmora::platform::win32_test
