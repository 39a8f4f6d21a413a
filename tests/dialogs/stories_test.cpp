// Runs every story of stories.txt (its head says the steps and checks) over the recording
// fake: the program's start, its main window and both dialogs, driven by the control names
// below (resources/resource.h). A failing check names its story and line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
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
#include "tests/support/tables.h"
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
  for (int k = 0; k < kMaxKeys; k++) {
    const std::string n = std::to_string(k + 1);
    names["pos" + n] = IDC_KEY_POSITION(k), names["len" + n] = IDC_KEY_LENGTH(k), names["type" + n] = IDC_KEY_TYPE(k);
    names["seq" + n] = IDC_KEY_SEQUENCE(k), names["label" + n] = IDC_KEY_TITLE_LABEL(k);
  }
  return names;
}
const std::map<std::string, int> kControls = ControlNames();

// The settings' switches; with the statistics box, the check boxes are named after them.
const std::map<std::string, int32_t PreferenceRecord::*> kSwitches = {
    {"gotosort", &PreferenceRecord::goToSortDialog}, {"userfiles", &PreferenceRecord::createUserFiles},
    {"stay", &PreferenceRecord::stayInSortDialog}, {"lastpath", &PreferenceRecord::useLastPath},
    {"titling", &PreferenceRecord::enableKeyTitling}, {"delimiter", &PreferenceRecord::delimiter}};

// A folder as the story names it: on Windows the program names the folders it finds with
// '\\', where the story (its '@') has '/'.
std::string Slashed(std::string path) {
#ifdef _WIN32
  std::replace(path.begin(), path.end(), '\\', '/');
#endif
  return path;
}

uint32_t Clock = 0;
uint32_t SlowClock() { return Clock += 1000; }  // every reading a second later

class StoryRunner {
 public:
  explicit StoryRunner(const std::string &name) : name_(name) { FakeReset(); }
  ~StoryRunner() {
    Unchecked();
    SetFileFaultForTesting(0);
    SetClockForTesting(nullptr, nullptr);
  }
  void Run(int line, const Words &w);
  const std::string &Folder() const { return folder_.folder.path; }

 private:
  void Expect(bool ok, const std::string &what) {
    if (!ok) ADD_FAILURE() << "story \"" << name_ << "\", stories.txt line " << line_ << ": " << what;
  }
  int Id(const std::string &name) {
    Expect(kControls.count(name) || isdigit(static_cast<unsigned char>(name[0])), "no control named " + name);
    return kControls.count(name) ? kControls.at(name) : atoi(name.c_str());
  }
  std::string Path(const std::string &name) const { return name[0] == '/' ? name : Folder() + "/" + name; }
  FakeControl &Control(const std::string &name) { return Fake.controls[{FakeDialog, Id(name)}]; }
  void Unchecked() {
    for (; boxes_ < Fake.messages.size(); boxes_++) Expect(false, "unchecked box " + Fake.messages[boxes_].text);
  }
  int Command(int control, int code) {
    Expect(Fake.calls != nullptr, "no dialog is open");
    return Fake.calls == nullptr ? -1 : Fake.calls->command(FakeDialog, kMain, control, code);
  }
  void Start(const Words &w);
  void Check(const Words &w);

  std::string name_;
  int line_ = 0;
  TempCurrentFolder folder_;
  size_t boxes_ = 0;   // message boxes checked
  size_t events_ = 0;  // the first event of the last step
};

// The program starts in its folder as pelmar.exe does, its settings read, then the
// switches (NAME or NAME=VALUE, at=LEFT,TOP) put in; its window is made.
void StoryRunner::Start(const Words &w) {
  Unchecked();
  FakeReset();
  boxes_ = events_ = 0;
  std::filesystem::current_path(Folder());
  ResetStartupState();
  LoadSettings();
  for (size_t i = 1; i < w.size(); i++) {
    const std::string name = w[i].substr(0, w[i].find('=')), value = w[i].substr(name.size() + (name != w[i]));
    if (kSwitches.count(name)) Preferences.*kSwitches.at(name) = value.empty() ? 1 : std::stoi(value);
    if (name == "at") sscanf(value.c_str(), "%d,%d", &Preferences.windowLeft, &Preferences.windowTop);
  }
  SetDefaultKeyTitles();
  LoadLastParameters();
  Fake.places[kMain] = ScreenRect{0, 0, kMainWindowWidth, kMainWindowHeight};  // made, then moved
  MainWindowCreate(kMain);
}

void StoryRunner::Run(int line, const Words &w) {
  line_ = line;
  const std::string &verb = w[0], a = w.size() > 1 ? w[1] : "", b = w.size() > 2 ? w[2] : "";
  const bool acts = verb == "start" || verb == "menu" || verb == "click" || verb == "select" || verb == "minimize";
  if (acts) events_ = Fake.events.size();  // the event checks look at what the last of these did
  if (verb == "put" || verb == "copy") {
    std::filesystem::create_directories(std::filesystem::path(Path(verb == "put" ? a : b)).parent_path());
    WriteFile(Path(verb == "put" ? a : b), verb == "put" ? b : ReadFile(Path(a)));
  } else if (verb == "start") {
    Start(w);
  } else if (verb == "menu") {
    MainWindowCommand(kMain, Id(a));
    if (!Fake.events.empty() && Fake.events.back().second == "destroy") MainWindowDestroy(kMain);
  } else if (verb == "type") {
    for (size_t i = 2; i < w.size(); i++) {
      if (w[i] != "-") WriteFieldText(FakeDialog, Id(a) + static_cast<int>(i) - 2, w[i].c_str());
    }
  } else if (verb == "click") {
    if (kSwitches.count(a) || a == "statistics") Control(a).checked = !Control(a).checked;
    Expect(Command(Id(a), kNotifyClicked) == 1, "the click was left to the window system");
  } else if (verb == "unhandled") {
    Expect(Command(Id(a), std::stoi(b)) == 0, "the command was handled");
  } else if (verb == "select") {
    Control(a).selection = std::stoi(b);
    Expect(Command(Id(a), kNotifySelectionChanged) == 1, "the selection was left to the window system");
  } else if (verb == "additem") {
    AddListItem(FakeDialog, Id(a), b.c_str());
  } else if (verb == "answer") {
    Fake.answers.push_back(a == "cancel" ? kAnswerCancel : kAnswerOk);
  } else if (verb == "browse") {
    Fake.openFiles.push_back(a == "cancel" ? "" : a);
  } else if (verb == "minimize") {
    int left, top;
    if (sscanf(a.c_str(), "%d,%d", &left, &top) == 2) Fake.places[kMain] = ScreenRect{left, top, left + 564, top + 370};
    MinimizeWindow(kMain);
  } else if (verb == "native") {  // steps only the native runner can take
    if (a == "fault") SetFileFaultForTesting(std::stoull(w[3]), w.size() < 5 || w[4] != "once", b == "rename" ? kFileRename : kFileDelete);
    if (a == "nodialog") Fake.dialogResult = -1;
    if (a == "slowclock") SetClockForTesting(SlowClock, nullptr);
  } else {
    Check(w);
  }
}

void StoryRunner::Check(const Words &w) {
  const std::string &verb = w[0], a = w.size() > 1 ? w[1] : "", b = w.size() > 2 ? w[2] : "";
  const Words rest(w.begin() + std::min<size_t>(w.size(), 2), w.end());
  std::string seen;  // what there was instead, for the message
  if (verb == "box" || verb == "ask") {
    const FakeMessage m = boxes_ < Fake.messages.size() ? Fake.messages[boxes_++] : FakeMessage{kMain, "", "none", 0};
    for (char c : m.caption + "|" + m.text) seen += c == '\n' ? std::string("\\n") : std::string(1, c);
    Expect(m.owner == (a == "main" ? kMain : FakeDialog) && m.caption == b && m.text == w[3] &&
               m.buttons == (verb == "ask" ? kButtonsOkCancel : kButtonsOk), "the box is " + seen);
  } else if (verb == "field") {
    for (int id = Id(a), i = 0; i < static_cast<int>(rest.size()); i++) {
      seen = Fake.controls[{FakeDialog, id + i}].text;
      Expect(seen == rest[i] || rest[i] == "-", "field " + std::to_string(id + i) + " reads " + seen);
    }
  } else if (verb == "ticked" || verb == "shown" || verb == "repaints" || verb == "selected") {
    const FakeControl &c = Control(a);
    const int value =
        verb == "ticked" ? c.checked : verb == "shown" ? c.shown : verb == "selected" ? c.selection : c.repaints;
    Expect(value == std::stoi(b), verb + " is " + std::to_string(value));
  } else if (verb == "list") {
    Expect(Control(a).items == rest, "the list differs");
  } else if (verb == "focus") {
    Expect(Fake.focusControl == Id(a), "the focus is on " + std::to_string(Fake.focusControl));
  } else if (verb == "label") {
    const char *text = Fake.calls->labelText(Id(a));
    Expect(w.size() > 2 ? text != nullptr && b == text : text == nullptr, "the label reads otherwise");
  } else if (verb == "file" || verb == "exists" || verb == "nofile" || verb == "size") {
    const std::string bytes = ReadFile(Path(a));
    Expect(FileExists(Path(a)) == (verb != "nofile"), a + (verb == "nofile" ? " exists" : " is missing"));
    Expect(verb == "file" ? bytes == b : verb != "size" || bytes.size() == std::stoul(b), a + " holds " + bytes);
  } else if (verb == "ini" || verb == "noini") {
    // Read by the settings' own decoder, whose stored layout the storage tests hold.
    const std::string bytes = ReadFile(Folder() + "/Pelmar.ini");
    PreferenceRecord r = {};
    const auto *stored = reinterpret_cast<const unsigned char *>(bytes.data());
    Expect(bytes.size() == (verb == "ini" ? kPreferenceRecordSize : 0) &&
               (verb == "noini" || DecodePreferenceRecord(stored, &r) == 0), "Pelmar.ini is otherwise");
    for (size_t i = 1; i + 1 < w.size() && bytes.size() == kPreferenceRecordSize; i += 2) {
      seen = w[i] == "folder" ? r.defaultBrowseDirectory : w[i] == "ofni" ? r.ofni : "";
      if (w[i] == "window") seen = std::to_string(r.windowLeft) + "," + std::to_string(r.windowTop) + "," +
                                   std::to_string(r.windowRight) + "," + std::to_string(r.windowBottom);
      if (kSwitches.count(w[i])) seen = std::to_string(r.*kSwitches.at(w[i]));
      Expect(Slashed(seen) == Slashed(w[i + 1]), "Pelmar.ini's " + w[i] + " is " + seen);
    }
  } else if (verb == "event" || verb == "noevent") {
    bool logged = false;
    for (size_t i = events_; i < Fake.events.size(); i++) {
      logged |= Fake.events[i].first == (a == "main" ? kMain : FakeDialog) && Fake.events[i].second == b;
      seen += " [" + Fake.events[i].second + "]";
    }
    Expect(logged == (verb == "event"), "the step did" + seen);
  } else if (verb == "request") {
    Words asked = Fake.requestTexts, wanted = rest;
    asked.resize(rest.size());
    for (size_t i = 0; i < rest.size(); i++) asked[i] = Slashed(asked[i]), wanted[i] = Slashed(rest[i]);
    Expect(Fake.requestOwner == (a == "main" ? kMain : FakeDialog) && asked == wanted, "the open-file request differs");
  } else {
    Expect(false, "no step " + verb);
  }
}

}  // namespace

// The controls as the stories name them (validation.txt too); 0 for a name of none.
int ControlNamed(const std::string &name) { return kControls.count(name) ? kControls.at(name) : 0; }

namespace {

TEST(DialogStories, EveryStoryHolds) {
  std::unique_ptr<StoryRunner> runner;
  PlayTable(PELMAR_STORIES, 365, [&](const TableRow &row) {
    if (row.words[0] == "story") {
      runner.reset();
      return runner.reset(new StoryRunner(row.text.substr(6)));
    }
    ASSERT_NE(runner, nullptr) << "a line in no story";
    std::vector<std::string> words = row.words;
    for (std::string &word : words) {  // '@' stands for the story's folder
      for (size_t at = 0; (at = word.find('@', at)) != std::string::npos; at += runner->Folder().size()) word.replace(at, 1, runner->Folder());
    }
    runner->Run(row.line, words);
  });
}

}  // namespace
