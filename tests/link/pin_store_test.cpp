// The scrambled PIN: the mixing step, the installation key and the registry
// value PalvoPass.
#include "link/pin_store.h"

#include <filesystem>
#include <fstream>
#include <random>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "tests/link/link_fixture.h"

namespace {

TEST(Mix32Test, KnownValuesAndInverse) {
  EXPECT_EQ(Mix32(0), 0u);
  EXPECT_EQ(Mix32(1), 0x10000000u);
  EXPECT_EQ(Unmix32(0), 0u);
  EXPECT_EQ(Unmix32(0x10000000u), 1u);

  std::mt19937 random(20240611);
  for (int i = 0; i < 200000; ++i) {
    const DWORD x = random();
    ASSERT_EQ(Unmix32(Mix32(x)), x) << std::hex << x;
    ASSERT_EQ(Mix32(Unmix32(x)), x) << std::hex << x;
  }
  // Every rotation count, and the words at the edges.
  for (DWORD x : {0xFFFFFFFFu, 0x80000000u, 0x0000000Fu, 0xFFFF0000u, 0x0000FFFFu}) {
    EXPECT_EQ(Unmix32(Mix32(x)), x) << std::hex << x;
  }
  for (DWORD c = 0; c < 16; ++c) EXPECT_EQ(Mix32(Unmix32(0xABCDEF00u | c)), 0xABCDEF00u | c);
}

TEST(ScrambleTest, RoundTripsForAnyKey) {
  std::mt19937 random(7);
  for (int k = 0; k < 200; ++k) {
    g_installationKey = k == 0 ? 0 : random();
    for (int i = 0; i < 500; ++i) {
      const DWORD p = random();
      ASSERT_EQ(UnscramblePin(ScramblePin(p)), p) << std::hex << g_installationKey << " " << p;
    }
  }
}

TEST(InstallationKeyTest, FoldsAsciiCaseOnly) {
  // Paths that do not exist: the key comes from the seed and the path alone.
  const DWORD key = InstallationKeyFor(L"C:\\no-such-dir-palvo\\Program Files\\palvo.exe");
  EXPECT_EQ(InstallationKeyFor(L"c:\\NO-SUCH-DIR-PALVO\\program files\\PALVO.EXE"), key);
  EXPECT_NE(InstallationKeyFor(L"C:\\no-such-dir-palvo\\Program Files\\palvo2.exe"), key);
  EXPECT_NE(InstallationKeyFor(L"C:\\no-such-dir-palvo\\Program Files\\palvo.exe "), key);

  // Letters outside ASCII keep their case, and any other change shows.
  const DWORD wide =
      InstallationKeyFor(L"C:\\no-such-dir-palvo\\\uFF41\\palvo.exe");  // fullwidth a
  EXPECT_NE(InstallationKeyFor(L"C:\\no-such-dir-palvo\\\uFF21\\palvo.exe"), wide);
  EXPECT_NE(InstallationKeyFor(L"C:\\no-such-dir-palvo\\パルボ\\palvo.exe"),
            InstallationKeyFor(L"C:\\no-such-dir-palvo\\パルポ\\palvo.exe"));
  EXPECT_NE(InstallationKeyFor(L"C:\\no-such-dir-palvo\\\u00E9\\palvo.exe"),
            InstallationKeyFor(L"C:\\no-such-dir-palvo\\\u00C9\\palvo.exe"));
}

TEST(InstallationKeyTest, FileTimesTakePart) {
  const auto file = std::filesystem::temp_directory_path() / "palvo-key-test.exe";
  { std::ofstream(file) << "program"; }
  const std::wstring path = file.wstring();
  const DWORD withTimes = InstallationKeyFor(path.c_str());
  EXPECT_EQ(InstallationKeyFor(path.c_str()), withTimes);
  std::filesystem::remove(file);
  EXPECT_NE(InstallationKeyFor(path.c_str()), withTimes);

  // The program's own key is stable for the life of the process.
  DeriveInstallationKey();
  const DWORD own = g_installationKey;
  DeriveInstallationKey();
  EXPECT_EQ(g_installationKey, own);
}

class PinStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestProcess();
    std::wcscpy(g_driverKeyPath, kTestDriverKey);
    CreateDriverKey(kTestDriverKey);
    g_installationKey = 0x13579BDFu;
  }
};

TEST_F(PinStoreTest, SaltMakesEveryWriteDifferent) {
  g_currentPin = 4321;
  WriteStoredPinWithSalt(0x11);
  DWORD first = 0, second = 0, type = REG_NONE;
  ASSERT_TRUE(ReadRawPin(kTestDriverKey, &first, &type));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  WriteStoredPinWithSalt(0x12);
  ASSERT_TRUE(ReadRawPin(kTestDriverKey, &second));
  EXPECT_NE(first, second);
  // Never the PIN in plain form.
  for (DWORD word : {first, second}) {
    EXPECT_NE(word & 0x00FFFFFFu, 4321u);
  }

  g_currentPin = kNoPin;
  ReadStoredPin();
  EXPECT_EQ(g_currentPin, 4321u);
  WriteRawValue(kTestDriverKey, REG_DWORD, &first, sizeof(first));
  g_currentPin = kNoPin;
  ReadStoredPin();
  EXPECT_EQ(g_currentPin, 4321u);

  // The ordinary write takes its salt from the clock and reads back the same.
  g_currentPin = 98765;
  WriteStoredPin();
  g_currentPin = kNoPin;
  ReadStoredPin();
  EXPECT_EQ(g_currentPin, 98765u);
}

TEST_F(PinStoreTest, MissingOrForeignValuesAreNoError) {
  g_currentPin = 555;
  ReadStoredPin();  // nothing stored
  EXPECT_EQ(g_currentPin, 555u);

  // A value too big for a PIN word is left alone.
  const BYTE big[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  WriteRawValue(kTestDriverKey, REG_BINARY, big, sizeof(big));
  ReadStoredPin();
  EXPECT_EQ(g_currentPin, 555u);

  // Another installation's word reads back as some 24-bit number, not the PIN.
  g_currentPin = 1234;
  WriteStoredPinWithSalt(0x77);
  g_installationKey = InstallationKeyFor(L"C:\\elsewhere\\palvo.exe");
  g_currentPin = kNoPin;
  ReadStoredPin();
  EXPECT_LE(g_currentPin, 0x00FFFFFFu);
  EXPECT_NE(g_currentPin, 1234u);

  DeleteStoredPin();
  DWORD word;
  EXPECT_FALSE(ReadRawPin(kTestDriverKey, &word));
  DeleteStoredPin();  // twice: still quiet
}

TEST_F(PinStoreTest, NoDriverKeyNoStore) {
  g_driverKeyPath[0] = 0;
  g_currentPin = 1234;
  WriteStoredPin();
  ReadStoredPin();
  DeleteStoredPin();
  DWORD word;
  EXPECT_FALSE(ReadRawPin(L"", &word));  // nothing landed in HKEY_LOCAL_MACHINE itself
  EXPECT_EQ(g_currentPin, 1234u);
}

#ifndef _WIN32
// A test process's registry file holds a scrambled PIN: the process takes it
// and its lock with it when it ends, and a child it forks leaves them alone.
TEST_F(PinStoreTest, ATestProcessLeavesNoRegistryFilesBehind) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("palvo-leftover-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const pid_t run = ::fork();
  ASSERT_GE(run, 0);
  if (run == 0) {
    ::setenv("TMPDIR", dir.c_str(), 1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execl("/proc/self/exe", "test_link",
            "--gtest_filter=PinStoreTest.SaltMakesEveryWriteDifferent",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(run, &status, 0), run);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(fs::is_empty(dir));
  fs::remove_all(dir);

  g_currentPin = 4321;
  WriteStoredPin();
  const std::string file = std::getenv("PALVO_REGISTRY");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) std::exit(0);  // runs this process's exit handlers
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(fs::exists(file));
  EXPECT_TRUE(fs::exists(file + ".lock"));
}
#endif

}  // namespace
