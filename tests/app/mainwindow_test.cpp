#include "app/mainwindow.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "dialogs/preferences.h"
#include "resources/resource.h"
#include "storage/settings.h"
#include "tests/support/fakewinsys.h"

namespace fs = std::filesystem;

// Each test runs in a fresh program directory with start-up state and settings loaded.
class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::current_path();
    folder_ = fs::temp_directory_path() / ("pelmar-mainwindow-" + std::to_string(getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    fs::current_path(folder_);
    FakeReset();
    ResetStartupState();
    LoadSettings();
  }
  void TearDown() override {
    fs::current_path(home_);
    fs::remove_all(folder_);
  }
  std::string Events() const {
    std::string events;
    for (int i = 0; i < FakeEventCount(); i++) events += std::string(FakeEventAt(i)->text) + ";";
    return events;
  }
  static int window_;
  WindowHandle const kWindow = &window_;
  fs::path home_, folder_;
};
int MainWindow::window_;

TEST_F(MainWindow, CreationMovesToTheStoredPositionAndMayOpenTheSortDialog) {
  MainWindowCreate(kWindow);
  EXPECT_EQ(Events(), "move 0,0;");
  FakeReset();
  Preferences.windowLeft = 30;
  Preferences.windowTop = 40;
  Preferences.goToSortDialog = 1;
  MainWindowCreate(kWindow);
  EXPECT_EQ(Events(), "move 30,40;post 101;");
}

TEST_F(MainWindow, CommandsOpenTheDialogsReportFailuresShowAboutAndExit) {
  MainWindowCommand(kWindow, IDM_SORT_DIALOG);
  MainWindowCommand(kWindow, IDM_PREFERENCES);
  EXPECT_EQ(FakeMessageCount(), 0);
  FakeSetDialogResult(-1);
  MainWindowCommand(kWindow, IDM_SORT_DIALOG);
  MainWindowCommand(kWindow, IDM_PREFERENCES);
  MainWindowCommand(kWindow, IDM_ABOUT);
  MainWindowCommand(kWindow, 999);
  MainWindowCommand(kWindow, IDM_EXIT);
  EXPECT_EQ(Events(), "dialog 1;dialog 2;dialog 1;dialog 2;destroy;");
  EXPECT_EQ(FakeLastDialogCalls(), &kPreferencesDialogCalls);
  ASSERT_EQ(FakeMessageCount(), 3);
  EXPECT_STREQ(FakeMessageAt(0)->text, "Could Not Create Sort Dialog!");
  EXPECT_STREQ(FakeMessageAt(1)->text, "Could Not Create Pref Dialog!");
  EXPECT_STREQ(FakeMessageAt(1)->caption, "  * * ERROR * *");
  EXPECT_STREQ(FakeMessageAt(2)->caption, " ABOUT");
  EXPECT_EQ(std::string(FakeMessageAt(2)->text).rfind("Pelmarw v1.0", 0), 0u);
}

TEST_F(MainWindow, SettingsAreWrittenAtTheEndOnlyWhenChanged) {
  FakeSetWindowRect(kWindow, ScreenRect{12, 34, 576, 404});
  MainWindowDestroy(kWindow);
  EXPECT_FALSE(fs::exists("Pelmar.ini"));
  SettingsChanged = 1;
  MinimizeWindow(kWindow);  // closed minimised, it keeps the place it is restored to
  MainWindowDestroy(kWindow);
  std::ifstream file("Pelmar.ini", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), {});
  ASSERT_EQ(bytes.size(), 302u);
  EXPECT_EQ(bytes.substr(kPrefWindowTopOffset, 16), std::string("\x22\0\0\0\x94\x01\0\0\x0c\0\0\0\x40\x02\0\0", 16));
}

TEST(MainWindowLook, TitleClassAndBanner) {
  EXPECT_STREQ(kMainWindowClass, "WinSortInp");
  EXPECT_STREQ(kMainWindowTitle, "      Pelmar v1.0");
  EXPECT_STREQ(kBanner[0].text, "Pelmarw v1.0");
  EXPECT_STREQ(kBanner[1].text, "Stand-Alone Sort Utility");
}
