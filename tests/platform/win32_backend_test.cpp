// Checks the Win32 backend against real Win32 behaviour: text conversions, folders, moves, locks, processes, crash dumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "layout/placement.h"
#include "platform/clock.h"
#include "platform/encoding.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/win32_test_support.h"

namespace velmora::platform::win32_test {
namespace {

namespace vp = velmora::platform;

TEST_F(Win32BackendTest, AnsiIsTheActiveCodePageAndSubstitutesWhatItCannotHold) {
  EXPECT_EQ(vp::WideToAnsi(u"plain ASCII"), "plain ASCII");
  EXPECT_EQ(vp::AnsiToWide("plain ASCII"), u"plain ASCII");
  const UINT codePage = ::GetACP();
  if (codePage == 1252) {
    EXPECT_EQ(vp::WideToAnsi(u"caf\u00e9"), "caf\xe9");
    EXPECT_EQ(vp::AnsiToWide("caf\xe9"), u"caf\u00e9");
    // U+4E2D has no place in code page 1252: its default character stands in.
    EXPECT_EQ(vp::WideToAnsi(u"a\u4e2db"), "a?b");
  } else if (codePage == 936) {
    EXPECT_EQ(vp::WideToAnsi(u"\u4e2d"), "\xd6\xd0");
    EXPECT_EQ(vp::AnsiToWide("\xd6\xd0"), u"\u4e2d");
    EXPECT_EQ(vp::WideToAnsi(u"a\u0e01b"), "a?b");
  } else {
    GTEST_SKIP() << "no expectations for code page " << codePage;
  }
}

TEST_F(Win32BackendTest, MalformedUtf8BecomesReplacementCharacterAndNulEndsTheText) {
  EXPECT_EQ(vp::Utf8ToWide("a\xff" "b"), u"a\ufffdb");
  EXPECT_EQ(vp::Utf8ToWide("\xe4\xb8\xad"), u"\u4e2d");
  EXPECT_EQ(vp::WideToUtf8(u"\u4e2d\U0001F600"), "\xe4\xb8\xad\xf0\x9f\x98\x80");
  EXPECT_EQ(vp::Utf8ToWide(std::string("ab\0cd", 5)), u"ab");
  EXPECT_EQ(vp::WideToAnsi(std::u16string(u"ab\0cd", 5)), "ab");
  EXPECT_EQ(vp::WideToUtf8(u""), "");
  EXPECT_EQ(vp::AnsiToWide(""), u"");
}

TEST_F(Win32BackendTest, ModuleDirectoryIsTheRunningExecutablesFolderWithBackslash) {
  ASSERT_TRUE(::CreateDirectoryW(win32::AsWide(folder_ + u"sub"), nullptr));
  const std::u16string child = CopyOfSelf(u"sub\\x.exe");
  ASSERT_FALSE(child.empty());
  ChildProcess process;
  ASSERT_TRUE(process.Start(child, u"report", folder_ + u"report.txt"));
  ASSERT_EQ(process.WaitForExit(), 0u);
  EXPECT_EQ(ReadWholeFile(folder_ + u"report.txt"), vp::WideToUtf8(folder_) + "sub\\\n");
}

TEST_F(Win32BackendTest, DirectoryChainCreatesDriveLetterFoldersOutermostFirst) {
  const std::u16string& base = folder_;
  vp::CreateDirectoryChain(base + u"a\\b\\c.bin");
  EXPECT_TRUE(Exists(folder_ + u"a\\b"));
  EXPECT_FALSE(Exists(folder_ + u"a\\b\\c.bin"));
  vp::CreateDirectoryChain(base + u"d\\e\\");
  EXPECT_TRUE(Exists(folder_ + u"d\\e"));
  vp::CreateDirectoryChain(base + u"f/g\\h.bin");
  EXPECT_TRUE(Exists(folder_ + u"f\\g"));
}

TEST_F(Win32BackendTest, ExistingFolderReportsAlreadyExists) {
  EXPECT_TRUE(vp::CreateFolder(folder_ + u"temp\\"));
  std::uint32_t osError = 0;
  EXPECT_FALSE(vp::CreateFolder(folder_ + u"temp\\", &osError));
  EXPECT_TRUE(vp::IsAlreadyExistsError(osError));
  EXPECT_FALSE(vp::CreateFolder(folder_ + u"missing\\temp\\", &osError));
  EXPECT_FALSE(vp::IsAlreadyExistsError(osError));
}

TEST_F(Win32BackendTest, StreamOpenedForDownloadIsNotShared) {
  const std::u16string path = folder_ + u"download.bin";
  std::FILE* stream = vp::OpenForBinaryWrite(path);
  ASSERT_NE(stream, nullptr);
  win32::FileHandle other(::CreateFileW(win32::AsWide(path), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  const bool shared = other.IsValid();
  other.Reset();
  std::fclose(stream);
  // Wine's runtime opens fopen_s streams shared; Windows' opens them for
  // writing without any sharing.
  if (shared && RunsUnderWine()) GTEST_SKIP() << "this runtime's fopen_s shares the file";
  EXPECT_FALSE(shared);
}

TEST_F(Win32BackendTest, RunningExecutableCanBeMovedAsideButNotOverwritten) {
  const std::u16string running = CopyOfSelf(u"host.exe");
  ASSERT_FALSE(running.empty());
  ChildProcess host;
  ASSERT_TRUE(host.Start(running, u"hold", u""));
  ::Sleep(200);  // let the loader map the image
  ASSERT_TRUE(WriteWholeFile(folder_ + u"new.exe", "new content"));
  // The loader shares a running image for delete but not for write.
  EXPECT_FALSE(win32::FileHandle(::CreateFileW(win32::AsWide(running), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
                   .IsValid());
  bool hadInstalled = false;
  EXPECT_TRUE(layout::PlaceFile(folder_ + u"retired\\host.exe", running, folder_ + u"new.exe", &hadInstalled));
  EXPECT_TRUE(hadInstalled);
  EXPECT_EQ(ReadWholeFile(running), "new content");
  EXPECT_TRUE(Exists(folder_ + u"retired\\host.exe"));
  EXPECT_FALSE(Exists(folder_ + u"new.exe"));
}

TEST_F(Win32BackendTest, ReplacementThatCannotCompleteKeepsTheInstalledFile) {
  const std::u16string installed = folder_ + u"app.dll";
  ASSERT_TRUE(WriteWholeFile(installed, "old"));
  const std::u16string retired = folder_ + u".RECYCLER\\20261209-183331\\app.dll";
  bool hadInstalled = false;
  // The new file never arrived: the installed one goes back to its place.
  EXPECT_FALSE(layout::PlaceFile(retired, installed, folder_ + u"none.dll", &hadInstalled));
  EXPECT_EQ(ReadWholeFile(installed), "old");
  // Opened without delete sharing, the installed file cannot leave, and the
  // new one must not take its place.
  ASSERT_TRUE(WriteWholeFile(folder_ + u"new.dll", "new"));
  {
    win32::FileHandle holder(::CreateFileW(win32::AsWide(installed), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.IsValid());
    EXPECT_FALSE(layout::PlaceFile(retired, installed, folder_ + u"new.dll", &hadInstalled));
  }
  EXPECT_EQ(ReadWholeFile(installed), "old");
  EXPECT_EQ(ReadWholeFile(folder_ + u"new.dll"), "new");
}

TEST_F(Win32BackendTest, TreeWithReadOnlyFileIsKeptAndReportsFailure) {
  ASSERT_TRUE(::CreateDirectoryW(win32::AsWide(folder_ + u"tree"), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(win32::AsWide(folder_ + u"tree\\inner"), nullptr));
  ASSERT_TRUE(WriteWholeFile(folder_ + u"tree\\inner\\locked.txt", "x"));
  ASSERT_TRUE(WriteWholeFile(folder_ + u"tree\\plain.txt", "y"));
  ASSERT_TRUE(::SetFileAttributesW(win32::AsWide(folder_ + u"tree\\inner\\locked.txt"), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(vp::DeleteDirectoryTree(folder_ + u"tree"));
  EXPECT_TRUE(Exists(folder_ + u"tree\\inner\\locked.txt"));
  EXPECT_FALSE(Exists(folder_ + u"tree\\plain.txt"));
  ASSERT_TRUE(::SetFileAttributesW(win32::AsWide(folder_ + u"tree\\inner\\locked.txt"), FILE_ATTRIBUTE_NORMAL));
  // A trailing backslash joins entries with a doubled one, which Windows reads as one.
  EXPECT_TRUE(vp::DeleteDirectoryTree(folder_ + u"tree\\"));
  EXPECT_FALSE(Exists(folder_ + u"tree"));
  EXPECT_FALSE(vp::DeleteDirectoryTree(folder_ + u"tree"));
}

TEST_F(Win32BackendTest, FileSizeIsReadWithoutHoldingTheFile) {
  const std::u16string path = folder_ + u"sized.bin";
  ASSERT_TRUE(WriteWholeFile(path, std::string(1234, 'z')));
  std::uint64_t size = 0;
  EXPECT_TRUE(vp::ReadFileSize(path, &size));
  EXPECT_EQ(size, 1234u);
  size = 7;
  EXPECT_FALSE(vp::ReadFileSize(folder_ + u"missing.bin", &size));
  EXPECT_FALSE(vp::ReadFileSize(folder_, &size)) << "a folder is no file";
  EXPECT_EQ(size, 7u) << "written only on success";
  {
    // Others that only read do not keep the size from being read.
    win32::FileHandle reader(::CreateFileW(win32::AsWide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader.IsValid());
    EXPECT_TRUE(vp::ReadFileSize(path, &size));
    EXPECT_EQ(size, 1234u);
  }
  {
    // Nor does a writer that shares nothing, as a download in progress.
    win32::FileHandle writer(::CreateFileW(win32::AsWide(path), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.IsValid());
    EXPECT_TRUE(vp::ReadFileSize(path, &size));
  }
  // Nothing stays open: the file can be deleted at once.
  EXPECT_TRUE(::DeleteFileW(win32::AsWide(path)));
  ASSERT_TRUE(WriteWholeFile(path, ""));
  EXPECT_TRUE(vp::ReadFileSize(path, &size));
  EXPECT_EQ(size, 0u);
}

TEST_F(Win32BackendTest, JunctionInsideATreeIsRemovedAsALink) {
  ASSERT_TRUE(::CreateDirectoryW(win32::AsWide(folder_ + u"outside"), nullptr));
  ASSERT_TRUE(WriteWholeFile(folder_ + u"outside\\keep.txt", "keep"));
  ASSERT_TRUE(::CreateDirectoryW(win32::AsWide(folder_ + u"tree"), nullptr));
  if (!CreateJunction(folder_ + u"tree\\link", folder_ + u"outside")) GTEST_SKIP() << "no junctions here";
  vp::FolderSearch search;
  ASSERT_TRUE(search.Start(folder_ + u"tree\\*.*"));
  bool sawLink = false;
  do {
    if (search.Name() == u"link") sawLink = search.IsLink() && !search.IsFolder();
  } while (search.Next());
  EXPECT_TRUE(sawLink);
  EXPECT_TRUE(layout::IsLink(folder_ + u"tree\\link"));
  EXPECT_FALSE(layout::IsRealFolder(folder_ + u"tree\\link"));
  EXPECT_TRUE(layout::IsRealFolder(folder_ + u"tree"));
  ASSERT_TRUE(CreateJunction(folder_ + u"link", folder_ + u"outside"));
  EXPECT_TRUE(layout::RemoveItem(folder_ + u"link")) << "a junction goes as the link itself";
  EXPECT_FALSE(Exists(folder_ + u"link"));
  EXPECT_TRUE(vp::DeleteDirectoryTree(folder_ + u"tree"));
  EXPECT_FALSE(Exists(folder_ + u"tree"));
  EXPECT_EQ(ReadWholeFile(folder_ + u"outside\\keep.txt"), "keep");
}

TEST_F(Win32BackendTest, TerminatesExactlyTheNamedProcessAndRefusesIdZero) {
  EXPECT_FALSE(vp::TerminateProcessById(0));
  EXPECT_FALSE(vp::TerminateProcessById(4294967295u));
  const std::u16string child = CopyOfSelf(u"victim.exe");
  ASSERT_FALSE(child.empty());
  ChildProcess victim;
  ASSERT_TRUE(victim.Start(child, u"hold", u""));
  EXPECT_TRUE(vp::TerminateProcessById(victim.Id()));
  EXPECT_EQ(victim.WaitForExit(10000), 0u);  // the exit code TerminateProcess was given
}

TEST_F(Win32BackendTest, StartedProgramGetsTheSplitParameters) {
  const std::u16string child = CopyOfSelf(u"started.exe");
  ASSERT_FALSE(child.empty());
  const std::u16string report = folder_ + u"started.txt";
  ::SetEnvironmentVariableW(kRoleVariable, L"report");
  ::SetEnvironmentVariableW(kArgumentVariable, win32::AsWide(report));
  const bool started = vp::StartProgram(child, u"one \"two three\" x\\\"y");
  ::SetEnvironmentVariableW(kRoleVariable, nullptr);
  ::SetEnvironmentVariableW(kArgumentVariable, nullptr);
  ASSERT_TRUE(started);
  for (int waited = 0; waited < 30000 && !Exists(report); waited += 50) ::Sleep(50);
  EXPECT_EQ(ReadWholeFile(report), vp::WideToUtf8(folder_) + "\none\ntwo three\nx\"y\n");
  EXPECT_FALSE(vp::StartProgram(folder_ + u"missing.exe", u""));
}

TEST_F(Win32BackendTest, CrashFilterWritesANamedMinidumpBesideTheExecutable) {
  ASSERT_TRUE(::CreateDirectoryW(win32::AsWide(folder_ + u"app"), nullptr));
  const std::u16string child = CopyOfSelf(u"app\\Velmora.exe");
  ASSERT_FALSE(child.empty());
  ChildProcess crashing;
  ASSERT_TRUE(crashing.Start(child, u"crash", u""));
  EXPECT_EQ(crashing.WaitForExit(), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
  std::vector<std::u16string> dumps;
  vp::FolderSearch search;
  ASSERT_TRUE(search.Start(folder_ + u"app\\Error\\*.*"));
  do {
    if (!search.IsFolder()) dumps.push_back(search.Name());
  } while (search.Next());
  ASSERT_EQ(dumps.size(), 1u) << "one fault, one dump";
  const std::string name = vp::WideToUtf8(dumps[0]);
  ASSERT_EQ(name.size(), std::string("[Velmora.exe][20261208101530].dmp").size()) << name;
  EXPECT_EQ(name.substr(0, 14), "[Velmora.exe][");
  EXPECT_EQ(name.find_first_not_of("0123456789", 14), 28u) << name;
  EXPECT_EQ(name.substr(28), "].dmp");
  EXPECT_EQ(ReadWholeFile(folder_ + u"app\\Error\\" + dumps[0]).substr(0, 4), "MDMP");
}

TEST_F(Win32BackendTest, CrashWithAFileNamedErrorWritesNothingAndStillEnds) {
  ASSERT_TRUE(::CreateDirectoryW(win32::AsWide(folder_ + u"app"), nullptr));
  ASSERT_TRUE(WriteWholeFile(folder_ + u"app\\Error", "not a folder"));
  const std::u16string child = CopyOfSelf(u"app\\Velmora.exe");
  ASSERT_FALSE(child.empty());
  ChildProcess crashing;
  ASSERT_TRUE(crashing.Start(child, u"crash", u""));
  EXPECT_EQ(crashing.WaitForExit(), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
  EXPECT_EQ(ReadWholeFile(folder_ + u"app\\Error"), "not a folder");
}

TEST_F(Win32BackendTest, WrittenFileTakesAttributesAndTimes) {
  const std::u16string path = folder_ + u"entry.txt";
  std::uint64_t stamp = 0;
  ASSERT_TRUE(vp::LocalTimeToFileTime({2026, 12, 8, 10, 30, 14, 0}, &stamp));
  vp::WritableFile file;
  ASSERT_TRUE(file.Create(path, 0x21, 0));
  ASSERT_TRUE(file.Write("abc", 3));
  ASSERT_TRUE(file.SetTimes(stamp, stamp + 10000000, stamp + 20000000));
  ASSERT_TRUE(file.Close());
  std::uint32_t attributes = 0;
  ASSERT_TRUE(vp::GetPathAttributes(path, &attributes));
  EXPECT_EQ(attributes & 0x21u, 0x21u);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(::GetFileAttributesExW(win32::AsWide(path), GetFileExInfoStandard, &data));
  auto value = [](const FILETIME& time) { return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; };
  // Creation times are not kept by every file system (Wine on Linux has none).
  EXPECT_EQ(value(data.ftLastWriteTime), stamp + 20000000);
  vp::ReadableFile reader;
  ASSERT_TRUE(reader.Open(path));
  std::uint64_t position = 0;
  ASSERT_TRUE(reader.Seek(1, vp::SeekOrigin::kBegin, &position));
  EXPECT_EQ(position, 1u);
  char buffer[4] = {};
  std::uint32_t read = 0;
  ASSERT_TRUE(reader.Read(buffer, sizeof(buffer), &read));
  EXPECT_EQ(std::string(buffer, read), "bc");
  // A read-only file cannot be created over.
  vp::WritableFile again;
  EXPECT_FALSE(again.Create(path, 0x20, 0));
  ::SetFileAttributesW(win32::AsWide(path), FILE_ATTRIBUTE_NORMAL);
}

// The probe is built beside this test from the Windows program's entry point,
// its resource script and a stand-in for the updater.
std::u16string EntryProbe() {
  const std::u16string self = OwnExecutable();
  return self.substr(0, self.rfind(u'\\') + 1) + u"win32_entry_probe.exe";
}

TEST_F(Win32BackendTest, EntryPointPassesTheRuntimesWideArgumentsAndItsResult) {
  const std::u16string report = folder_ + u"entry.txt";
  ::SetEnvironmentVariableW(L"VELMORA_ENTRY_REPORT", win32::AsWide(report));
  ChildProcess probe;
  const bool started =
      probe.Run(EntryProbe(), u"\"" + EntryProbe() + u"\" Start \"http://h/a b/\" 12 \u4e2d\u6587 \"\"");
  ::SetEnvironmentVariableW(L"VELMORA_ENTRY_REPORT", nullptr);
  ASSERT_TRUE(started);
  EXPECT_EQ(probe.WaitForExit(), 46u);  // 40 + six arguments, program name included
  EXPECT_EQ(ReadWholeFile(report),
            vp::WideToUtf8(EntryProbe()) + "\nStart\nhttp://h/a b/\n12\n\xe4\xb8\xad\xe6\x96\x87\n\n");
}

TEST_F(Win32BackendTest, ProgramIsAGuiProgramAskingForTheInvokersRights) {
  const std::string image = ReadWholeFile(EntryProbe());
  ASSERT_GT(image.size(), 0x200u);
  IMAGE_DOS_HEADER dos{};
  std::copy_n(image.data(), sizeof(dos), reinterpret_cast<char*>(&dos));
  ASSERT_LT(static_cast<std::size_t>(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS64), image.size());
  IMAGE_NT_HEADERS64 headers{};
  std::copy_n(image.data() + dos.e_lfanew, sizeof(headers), reinterpret_cast<char*>(&headers));
  EXPECT_EQ(headers.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

  HMODULE module = ::LoadLibraryExW(win32::AsWide(EntryProbe()), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr);
  std::string manifest;
  if (HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST)) {
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(module, resource)));
    if (data != nullptr) manifest.assign(data, ::SizeofResource(module, resource));
  }
  ::FreeLibrary(module);
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\""), std::string::npos) << manifest;
}

TEST(Win32Clock, LocalTimeOutsideItsFieldsIsRefused) {
  std::uint64_t stamp = 0;
  EXPECT_FALSE(vp::LocalTimeToFileTime({2026, 13, 1, 0, 0, 0, 0}, &stamp));
  EXPECT_FALSE(vp::LocalTimeToFileTime({67516, 1, 1, 0, 0, 0, 0}, &stamp)) << "must not wrap to 1980";
  EXPECT_FALSE(vp::LocalTimeToFileTime({2026, -1, 1, 0, 0, 0, 0}, &stamp));
  const vp::LocalTime now = vp::ReadLocalTime();
  EXPECT_GE(now.year, 2020);
  EXPECT_TRUE(vp::LocalTimeToFileTime(now, &stamp));
}

}  // namespace
}  // namespace velmora::platform::win32_test
