// Installing the driver's service when the driver does not answer, and
// removing it again.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/service.h"
#include "tests/native/driver_test_fakes.h"

namespace {

using Log = std::vector<std::string>;

class InstallDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { port.driverRunning = false; }

  FakeDriverPort port;
  FakeServicePort services;
};

TEST_F(InstallDriverTest, RunningDriverIsLeftAlone) {
  port.driverRunning = true;
  EXPECT_TRUE(InstallDriver(port, services));
  EXPECT_TRUE(services.log.empty());
  EXPECT_EQ(port.log, (Log{"open \\\\.\\Velmorcrypt rw", "close \\\\.\\Velmorcrypt"}));
}

TEST_F(InstallDriverTest, CreatesAndStartsTheServiceForTheDriverInTheCurrentDirectory) {
  EXPECT_TRUE(InstallDriver(port, services));
  EXPECT_EQ(services.log, (Log{"current-directory", "file C:\\Tools\\velmorcrypt.sys",
                               "open-manager", "create C:\\Tools\\velmorcrypt.sys", "open-service",
                               "start", "close-service", "close-manager"}));
  EXPECT_TRUE(services.serviceRunning);
  EXPECT_EQ(services.serviceBinary, "C:\\Tools\\velmorcrypt.sys");
}

TEST_F(InstallDriverTest, MissingDriverFileFailsBeforeTheManagerIsOpened) {
  services.files.clear();
  EXPECT_FALSE(InstallDriver(port, services));
  EXPECT_EQ(services.log, (Log{"current-directory", "file C:\\Tools\\velmorcrypt.sys"}));
}

TEST_F(InstallDriverTest, UnreadableCurrentDirectoryFails) {
  services.currentDirectoryFails = true;
  EXPECT_FALSE(InstallDriver(port, services));
  EXPECT_EQ(services.log, (Log{"current-directory"}));
}

TEST_F(InstallDriverTest, ManagerThatCannotBeOpenedFails) {
  services.managerFails = true;
  EXPECT_FALSE(InstallDriver(port, services));
  EXPECT_EQ(services.log.back(), "open-manager");
}

TEST_F(InstallDriverTest, ServiceLeftByAnEarlierRunIsUsedAsItIs) {
  services.serviceExists = true;
  services.serviceBinary = "D:\\elsewhere\\velmorcrypt.sys";
  EXPECT_TRUE(InstallDriver(port, services));
  EXPECT_TRUE(services.serviceRunning);
  EXPECT_EQ(services.serviceBinary, "D:\\elsewhere\\velmorcrypt.sys");
  EXPECT_TRUE(RemoveDriver(services));
  EXPECT_FALSE(services.serviceExists);
}

TEST_F(InstallDriverTest, OtherCreationErrorsFail) {
  services.createError = kFakeErrorAccessDenied;
  EXPECT_FALSE(InstallDriver(port, services));
  EXPECT_EQ(services.log.back(), "close-manager");
  EXPECT_EQ(std::count(services.log.begin(), services.log.end(), "open-service"), 0);
}

TEST_F(InstallDriverTest, ServiceThatAlreadyRunsCountsAsStarted) {
  services.serviceExists = true;
  services.serviceRunning = true;
  EXPECT_TRUE(InstallDriver(port, services));
}

TEST_F(InstallDriverTest, FailedStartFails) {
  services.startError = kFakeErrorAccessDenied;
  EXPECT_FALSE(InstallDriver(port, services));
  EXPECT_EQ(services.log.back(), "close-manager");
}

TEST(RemoveDriver, StopsThenDeletes) {
  FakeServicePort services;
  services.serviceExists = true;
  services.serviceRunning = true;
  EXPECT_TRUE(RemoveDriver(services));
  EXPECT_EQ(services.log, (Log{"open-manager", "open-service", "stop", "delete", "close-service",
                               "close-manager"}));
  EXPECT_FALSE(services.serviceExists);
}

// A driver that still serves a volume refuses the stop: the service stays.
TEST(RemoveDriver, RefusedStopLeavesTheServiceInPlace) {
  FakeServicePort services;
  services.serviceExists = true;
  services.serviceRunning = true;
  services.stopFails = true;
  EXPECT_FALSE(RemoveDriver(services));
  EXPECT_TRUE(services.serviceExists);
  EXPECT_EQ(services.log,
            (Log{"open-manager", "open-service", "stop", "close-service", "close-manager"}));
}

TEST(RemoveDriver, FailsWithoutManagerServiceOrDeletion) {
  FakeServicePort services;
  EXPECT_FALSE(RemoveDriver(services));  // no service
  services.serviceExists = true;
  services.deleteFails = true;
  EXPECT_FALSE(RemoveDriver(services));
  services.managerFails = true;
  services.log.clear();
  EXPECT_FALSE(RemoveDriver(services));
  EXPECT_EQ(services.log, (Log{"open-manager"}));
}

}  // namespace
