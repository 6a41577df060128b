// The driver refuses a stop while a volume is mounted: the program's removal
// of the service (its exit path and the end of the session) leaves the
// service in place, and the volume goes on serving. Under Wine a refused
// stop leaves the service manager unable to stop that service again until
// its server restarts, so this program runs alone and the server is
// restarted after it (run_alone_then_restart_wine.sh).
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "standin_fault_support.h"

namespace {

using namespace standin_fault;

TEST(StandinStop, RemovalLeavesTheServiceWhileAVolumeIsMounted) {
  ASSERT_TRUE(driver_support::InstallFromProgramFolder("vm-standin-stop-program"));
  uint32_t session = 0;
  ASSERT_TRUE(GetLogonSessionId(&session));
  const std::vector<char> letters = FreeLetters(1);
  ASSERT_EQ(letters.size(), 1u);
  const TestVolume volume = MakeVolume("stop", kAes256, false, 64);
  ASSERT_TRUE(MountThrough(volume, letters[0], session).outcome.success);

  EXPECT_FALSE(RemoveDriver(SystemServicePort()));
  DriverVersion version;
  EXPECT_TRUE(GetDriverVersion(SystemDriverPort(), &version));
  HANDLE drive = OpenDrive(letters[0], GENERIC_READ);
  std::vector<uint8_t> body(volume.plain.size());
  EXPECT_TRUE(ReadAt(drive, 0, body.data(), static_cast<uint32_t>(body.size())));
  CloseHandle(drive);
  EXPECT_EQ(body, volume.plain);
  EXPECT_TRUE(DismountVolume(SystemDriverPort(), letters[0], session, 0));
}

}  // namespace
