// Runs every story of stories.txt (its head says the steps and checks) over the recording
// fake: the program's start, its main window and both dialogs, driven by control names of
// resources/resource.h. A failing check names its story and line.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/mainwindow.h"
#include "os/platform.h"
#include "resources/resource.h"
#include "storage/parameterfiles.h"
#include "storage/settings.h"
#include "tests/support/fakewinsys.h"
#include "tests/support/testfiles.h"

namespace {

int MainToken;
WindowHandle const kMain = &MainToken;
using Words = std::vector<std::string>;

std::map<std::string, int> ControlNames() {
  std::map<std::string, int> names = {
      {"input", IDC_INPUT_NAME}, {"output", IDC_OUTPUT_NAME}, {"browse", IDC_BROWSE}, {"size", IDC_RECORD_SIZE},
      {"statistics", IDC_STATISTICS}, {"statcaption", IDC_STATISTICS_CAPTION}, {"validate", IDC_VALIDATE},
      {"sort", IDC_SORT}, {"help", IDC_HELP_BUTTON}, {"return", IDC_RETURN_TO_MAIN}, {"list", IDC_SAVED_LIST},
      {"listlabel", IDC_SAVED_LABEL}, {"remove", IDC_REMOVE_ENTRY}, {"editor", IDC_TITLE_EDITOR},
      {"panel", IDC_SORT_PANEL}, {"heading", IDC_KEY_HEADING}, {"done", IDC_PREF_DONE}, {"ofni", IDC_PREF_OFNI},
      {"folder", IDC_PREF_BROWSE_DIR}, {"gotosort", IDC_PREF_GO_TO_SORT}, {"userfiles", IDC_PREF_USER_FILES},
      {"stay", IDC_PREF_STAY}, {"lastpath", IDC_PREF_LAST_PATH}, {"titling", IDC_PREF_KEY_TITLING},
      {"delimiter", IDC_PREF_DELIMITER}, {"staylabel", IDC_PREF_STAY_LABEL}, {"prefs", IDM_PREFERENCES},
      {"sortdialog", IDM_SORT_DIALOG}, {"about", IDM_ABOUT}, {"exit", IDM_EXIT}};
  for (int k = 0; k < 6; k++) {
    const std::string n = std::to_string(k + 1);
    names["pos" + n] = IDC_KEY_POSITION(k), names["len" + n] = IDC_KEY_LENGTH(k);
    names["type" + n] = IDC_KEY_TYPE(k), names["seq" + n] = IDC_KEY_SEQUENCE(k), names["label" + n] = IDC_KEY_TITLE_LABEL(k);
  }
  return names;
}
const std::map<std::string, int> kControls = ControlNames();
const int kCheckBoxes[] = {IDC_STATISTICS, IDC_PREF_GO_TO_SORT, IDC_PREF_USER_FILES, IDC_PREF_STAY,
                           IDC_PREF_LAST_PATH, IDC_PREF_KEY_TITLING};
const std::map<std::string, int32_t PreferenceRecord::*> kSwitches = {
    {"gotosort", &PreferenceRecord::goToSortDialog}, {"userfiles", &PreferenceRecord::createUserFiles},
    {"stay", &PreferenceRecord::stayInSortDialog}, {"lastpath", &PreferenceRecord::useLastPath},
    {"titling", &PreferenceRecord::enableKeyTitling}, {"delimiter", &PreferenceRecord::delimiter}};
const std::map<std::string, size_t> kIniFields = {
    {"gotosort", kPrefGoToSortOffset}, {"userfiles", kPrefUserFilesOffset}, {"stay", kPrefStayOffset},
    {"lastpath", kPrefLastPathOffset}, {"delimiter", kPrefDelimiterOffset}, {"titling", kPrefKeyTitlingOffset}};
const std::map<std::string, int> kFaultKinds = {{"open", kFileOpen}, {"write", kFileWrite},
                                               {"rename", kFileRename}, {"delete", kFileDelete}};

uint32_t Clock = 0;
uint32_t SlowClock() { return Clock += 1000; }  // every reading a second later

// A line's words; a quoted word may hold blanks and the escapes \n \r \" \\ \0 and \*Nc
// (N times c). '@' stands for the story's folder.
Words Split(const std::string &line, const std::string &folder) {
  Words words;
  for (size_t at = 0; at < line.size(); at++) {
    if (line[at] == ' ') continue;
    std::string word;
    const bool quoted = line[at] == '"';
    for (at += quoted; at < line.size() && line[at] != (quoted ? '"' : ' '); at++) {
      char c = line[at];
      if (c == '@' || c != '\\' || !quoted) {
        word += c == '@' ? folder : std::string(1, c);
        continue;
      }
      c = line[++at];
      size_t n = 0;
      while (c == '*' && isdigit(static_cast<unsigned char>(line[at + 1]))) n = n * 10 + (line[++at] - '0');
      word.append(c == '*' ? n : 1, c == '*' ? line[++at] : c == 'n' ? '\n' : c == 'r' ? '\r' : c == '0' ? '\0' : c);
    }
    words.push_back(word);
  }
  return words;
}

int32_t Le32(const std::string &bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; i--) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return static_cast<int32_t>(value);
}

class StoryRunner {
 public:
  explicit StoryRunner(const std::string &where) : where_(where) {
    FakeReset();
    SetFileFaultForTesting(0);
  }
  ~StoryRunner() {
    Unchecked();
    SetFileFaultForTesting(0);
    SetClockForTesting(nullptr, nullptr);
  }
  void Run(int line, const Words &w);
  const std::string &Folder() const { return folder_.folder.path; }

 private:
  void Expect(bool ok, const std::string &what) {
    if (!ok) ADD_FAILURE() << where_ << " line " << line_ << ": " << what;
  }
  int Id(const std::string &name) {
    const auto found = kControls.find(name);
    if (found != kControls.end()) return found->second;
    Expect(isdigit(static_cast<unsigned char>(name[0])), "no control named " + name);
    return atoi(name.c_str());
  }
  std::string Path(const std::string &name) const { return name[0] == '/' ? name : Folder() + "/" + name; }
  WindowHandle Window(const std::string &name) { return name == "main" ? kMain : FakeDialog; }
  void Unchecked() {
    for (; boxes_ < Fake.messages.size(); boxes_++) {
      Expect(false, "unchecked box " + Fake.messages[boxes_].caption + "|" + Fake.messages[boxes_].text);
    }
  }
  // An event of the last step; a text ending in '*' matches every text it begins.
  bool Logged(const Words &w) {
    const bool prefix = w[2].back() == '*';
    for (size_t i = events_; i < Fake.events.size(); i++) {
      const std::string &text = Fake.events[i].second;
      if (Fake.events[i].first == Window(w[1]) && text.substr(0, prefix ? w[2].size() - 1 : text.size()) ==
                                                      w[2].substr(0, w[2].size() - prefix)) {
        return true;
      }
    }
    return false;
  }
  void Start(const Words &w);
  int Command(int control, int code) {
    Expect(Fake.calls != nullptr, "no dialog is open");
    return Fake.calls == nullptr ? -1 : Fake.calls->command(FakeDialog, Fake.owner, control, code);
  }

  std::string where_;
  int line_ = 0;
  TempCurrentFolder folder_;
  size_t boxes_ = 0;   // message boxes checked
  size_t events_ = 0;  // the first event of the last step
};

// The program starts in its folder as pelmar.exe does, its settings as read with the
// switches (NAME or NAME=VALUE, ofni=, folder=, at=LEFT,TOP) put in; its window is made.
void StoryRunner::Start(const Words &w) {
  Unchecked();
  FakeReset();
  boxes_ = events_ = 0;
  std::filesystem::current_path(Folder());
  ResetStartupState();
  LoadSettings();
  for (size_t i = 1; i < w.size(); i++) {
    const std::string name = w[i].substr(0, w[i].find('=')), value = w[i].substr(name.size() + (name != w[i]));
    if (kSwitches.count(name)) Preferences.*kSwitches.at(name) = value.empty() ? 1 : atoi(value.c_str());
    if (name == "ofni") CopyText(Preferences.ofni, kOfniSize, value.c_str()), CopyText(WorkingOfni, kOfniSize, value.c_str());
    if (name == "folder") {
      CopyText(Preferences.defaultBrowseDirectory, kPrefBrowseSlot, value.c_str());
      CopyText(BrowseDirectory, kNameSize, value.c_str());
    }
    if (name == "at") sscanf(value.c_str(), "%d,%d", &Preferences.windowLeft, &Preferences.windowTop);
  }
  SetDefaultKeyTitles();
  LoadLastParameters();
  Fake.places[kMain] = ScreenRect{kMainWindowLeft, kMainWindowTop, kMainWindowLeft + kMainWindowWidth,
                                  kMainWindowTop + kMainWindowHeight};
  MainWindowCreate(kMain);
}

void StoryRunner::Run(int line, const Words &w) {
  line_ = line;
  const std::string &verb = w[0];
  const std::string a = w.size() > 1 ? w[1] : "", b = w.size() > 2 ? w[2] : "";
  if (verb == "put") {
    std::filesystem::create_directories(std::filesystem::path(Path(a)).parent_path());
    WriteFile(Path(a), b);
    return;
  }
  if (verb == "copy") {
    WriteFile(Path(b), ReadFile(Path(a)));
    return;
  }
  // The event checks look at what the last of these did.
  if (verb == "start" || verb == "menu" || verb == "click" || verb == "select" || verb == "minimize") {
    events_ = Fake.events.size();
  }
  if (verb == "start") {
    Start(w);
  } else if (verb == "menu") {
    MainWindowCommand(kMain, Id(a));
    if (!Fake.events.empty() && Fake.events.back().second == "destroy") MainWindowDestroy(kMain);
  } else if (verb == "type") {
    for (size_t i = 2; i < w.size(); i++) WriteFieldText(FakeDialog, Id(a) + static_cast<int>(i) - 2, w[i].c_str());
  } else if (verb == "click") {
    for (int box : kCheckBoxes) {
      if (box == Id(a)) WriteCheckBox(FakeDialog, box, !ReadCheckBox(FakeDialog, box));
    }
    Expect(Command(Id(a), kNotifyClicked) == 1, "the click was left to the window system");
  } else if (verb == "unhandled") {
    Expect(Command(Id(a), atoi(b.c_str())) == 0, "the command was handled");
  } else if (verb == "select") {
    Fake.controls[{FakeDialog, Id(a)}].selection = atoi(b.c_str());
    Expect(Command(Id(a), kNotifySelectionChanged) == 1, "the selection was left to the window system");
  } else if (verb == "additem") {
    AddListItem(FakeDialog, Id(a), b.c_str());
  } else if (verb == "answer") {
    Fake.answers.push_back(a == "cancel" ? kAnswerCancel : kAnswerOk);
  } else if (verb == "browse") {
    Fake.openFiles.push_back(a == "cancel" ? "" : a);
  } else if (verb == "minimize") {
    int left = 0, top = 0;
    if (sscanf(a.c_str(), "%d,%d", &left, &top) == 2) Fake.places[kMain] = ScreenRect{left, top, left + 564, top + 370};
    MinimizeWindow(kMain);
  } else if (verb == "native") {  // steps only the native runner can take
    if (a == "fault") SetFileFaultForTesting(std::stoull(w[3]), 1, kFaultKinds.at(b));
    if (a == "nodialog") Fake.dialogResult = -1;
    if (a == "slowclock") SetClockForTesting(SlowClock, nullptr);
  } else if (verb == "box" || verb == "ask") {
    Expect(boxes_ < Fake.messages.size(), "no message box " + b + "|" + w[3]);
    if (boxes_ >= Fake.messages.size()) return;
    const FakeMessage &m = Fake.messages[boxes_++];
    Expect(m.owner == Window(a) && m.buttons == (verb == "ask" ? kButtonsOkCancel : kButtonsOk),
           "the box's owner or buttons differ");
    std::string shown = m.caption + "|";
    for (char c : m.text) shown += c == '\n' ? std::string("\\n") : std::string(1, c);
    Expect(m.caption == b && m.text == w[3], "the box is " + shown);
  } else if (verb == "field") {
    for (size_t i = 2; i < w.size(); i++) {
      const std::string shown = Fake.controls[{FakeDialog, Id(a) + static_cast<int>(i) - 2}].text;
      Expect(shown == w[i], "field " + std::to_string(Id(a) + static_cast<int>(i) - 2) + " reads " + shown);
    }
  } else if (verb == "ticked" || verb == "shown" || verb == "repaints" || verb == "selected") {
    const FakeControl &c = Fake.controls[{FakeDialog, Id(a)}];
    const int value = verb == "ticked" ? c.checked : verb == "shown" ? c.shown : verb == "repaints" ? c.repaints : c.selection;
    Expect(value == atoi(b.c_str()), verb + " is " + std::to_string(value));
  } else if (verb == "list") {
    const Words items(w.begin() + 2, w.end());
    Expect(Fake.controls[{FakeDialog, Id(a)}].items == items, "the list differs");
  } else if (verb == "focus") {
    Expect(Fake.focusControl == Id(a), "the focus is on " + std::to_string(Fake.focusControl));
  } else if (verb == "label") {
    const char *text = Fake.calls->labelText(Id(a));
    Expect(w.size() > 2 ? text != nullptr && b == text : text == nullptr, "the label reads otherwise");
  } else if (verb == "file" || verb == "exists" || verb == "nofile" || verb == "size") {
    const bool exists = FileExists(Path(a));
    const std::string bytes = ReadFile(Path(a));
    Expect(verb == "nofile" ? !exists : exists, a + (exists ? " exists" : " is missing"));
    Expect(verb != "file" || bytes == b, a + " holds " + bytes);
    Expect(verb != "size" || bytes.size() == std::stoul(b), a + " has " + std::to_string(bytes.size()) + " bytes");
  } else if (verb == "ini" || verb == "noini") {
    const std::string bytes = ReadFile(Folder() + "/Pelmar.ini");
    Expect(verb == "ini" ? bytes.size() == kPreferenceRecordSize : bytes.empty(), "Pelmar.ini is otherwise");
    for (size_t i = 1; i + 1 < w.size() && bytes.size() == kPreferenceRecordSize; i += 2) {
      std::string value;
      if (w[i] == "folder") value = bytes.substr(kPrefBrowseOffset, kPrefBrowseSlot).c_str();
      if (w[i] == "ofni") value = bytes.substr(kPrefOfniOffset, kPrefOfniSlot).c_str();
      if (w[i] == "window") {
        for (size_t at : {kPrefWindowLeftOffset, kPrefWindowTopOffset, kPrefWindowRightOffset, kPrefWindowBottomOffset}) {
          value += std::to_string(Le32(bytes, at)) + (at == kPrefWindowBottomOffset ? "" : ",");
        }
      }
      if (kIniFields.count(w[i])) value = std::to_string(Le32(bytes, kIniFields.at(w[i])));
      Expect(value == w[i + 1], "Pelmar.ini's " + w[i] + " is " + value);
    }
  } else if (verb == "event" || verb == "noevent") {
    std::string done;
    for (size_t i = events_; i < Fake.events.size(); i++) done += " [" + Fake.events[i].second + "]";
    Expect(Logged(w) == (verb == "event"), std::string(verb == "event" ? "missing" : "there") + "; the step did" + done);
  } else if (verb == "request") {
    const Words texts(w.begin() + 2, w.end());
    Expect(Fake.requestOwner == Window(a) && texts == Words(Fake.requestTexts, Fake.requestTexts + texts.size()),
           "the open-file request is " + Fake.requestTexts[0] + "|" + Fake.requestTexts[1]);
  } else {
    Expect(false, "no step " + verb);
  }
}

TEST(DialogStories, EveryStoryHolds) {
  std::ifstream file(PELMAR_STORIES);
  ASSERT_TRUE(file.is_open()) << PELMAR_STORIES;
  std::unique_ptr<StoryRunner> runner;
  std::string line;
  int stories = 0;
  for (int number = 1; std::getline(file, line); number++) {
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("story ", 0) == 0) {
      runner.reset();
      runner.reset(new StoryRunner("story \"" + line.substr(6) + "\""));
      stories++;
      continue;
    }
    ASSERT_NE(runner, nullptr) << "stories.txt line " << number << " is in no story";
    runner->Run(number, Split(line, runner->Folder()));
  }
  runner.reset();
  EXPECT_GT(stories, 0);
}

}  // namespace
