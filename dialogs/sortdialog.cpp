#include "dialogs/sortdialog.h"

#include <cstring>

#include "engine/errortext.h"
#include "engine/sortrun.h"
#include "engine/sorttypes.h"
#include "resources/resource.h"
#include "dialogs/dialoggestures.h"

static const char kVariableText[] = "variable";
static const char kProgramEntry[] = "spt_a";  // names "spt.spt" itself: never removed
constexpr size_t kNameReadSize = 254;          // a name field: at most 253 characters
constexpr size_t kRecordSizeReadSize = 9;      // the record size read back: at most 8 characters
constexpr size_t kVariablePrefix = 3;          // "var" is the shortest beginning of "variable"

static const char kCaptionRemoved[] = "Selected Entry Removed";
static const char kMessageValid[] = "Sort Parameters are Valid";
static const char kMessageNothingSelected[] = "NO File Selected for Removal!";
static const char kMessageProgramOwned[] = "Cannot Remove Program Owned File!";
static const char kMessageConfirmRemoval[] = "Remove Selected Entry!\n\n   Are You Sure?";
static const char kMessageResequenced[] = "Identifiers have been Resequenced!";
static const char kMessageRemovalCanceled[] = "File Removal Canceled!";

const char kMessageSortDone[] = "Sort Is Done!";
const char kCaptionStatus[] = "Status";

static StorageOutcome Outcome;  // what the storage operation running now reported
int ParametersSaveFailed = 0;

// A number above 0 as digits; anything else empties the field.
static void WriteCount(WindowHandle dialog, int id, int32_t value) {
  if (value > 0) {
    WriteFieldNumber(dialog, id, static_cast<uint32_t>(value));
  } else {
    WriteFieldText(dialog, id, "");
  }
}

// A letter as a one-character text; a blank or a zero byte empties the field.
static void WriteLetter(WindowHandle dialog, int id, char letter) {
  const char text[2] = {letter == ' ' ? '\0' : letter, '\0'};
  WriteFieldText(dialog, id, text);
}

// The first character of a field as typed, or a zero byte for an empty field.
static char ReadLetter(WindowHandle dialog, int id) {
  char text[2];
  return ReadFieldText(dialog, id, text, sizeof text) > 0 ? text[0] : '\0';
}

static void AddIdentifiers(WindowHandle dialog, const StorageOutcome *outcome) {
  for (int i = 0; i < outcome->identifierCount; i++) AddListItem(dialog, IDC_SAVED_LIST, outcome->identifiers[i]);
}

// A listing hands each identifier it finds straight to the dialog's saved list.
static void AddToSavedList(void *dialog, const char *identifier) {
  AddListItem(static_cast<WindowHandle>(dialog), IDC_SAVED_LIST, identifier);
}

// Saves the parameter record as the last-used set (and as a user entry when those are
// on). A new entry clears the list's selection; its identifier joins the list, focused.
static void SaveParameters(WindowHandle dialog) {
  ParametersSaveFailed = SaveLastParameters(&Outcome);
  if (Outcome.newEntry) ClearListSelection(dialog, IDC_SAVED_LIST);
  if (Outcome.identifierCount > 0) FocusControl(dialog, IDC_SAVED_LIST);
  AddIdentifiers(dialog, &Outcome);
  ShowStorageMessages(dialog, &Outcome);
}

// The report's folder: the input name's text before its last separator, or folder for a
// name without one.
static void SetStatisticsDirectory(const char *inputName, const char *folder) {
  const char *separator = FindLastSeparator(inputName);
  if (separator == nullptr) {
    CopyText(StatisticsDirectory, sizeof StatisticsDirectory, folder);
    return;
  }
  size_t length = static_cast<size_t>(separator - inputName);
  if (length >= sizeof StatisticsDirectory) length = sizeof StatisticsDirectory - 1;
  memcpy(StatisticsDirectory, inputName, length);
  StatisticsDirectory[length] = '\0';
}

void FillDialogFields(WindowHandle dialog) {
  const SortParameters *p = &CurrentParameters;
  WriteFieldText(dialog, IDC_INPUT_NAME, p->inputName);
  WriteFieldText(dialog, IDC_OUTPUT_NAME, p->outputName);
  if (p->recordLength > 0) {
    WriteFieldNumber(dialog, IDC_RECORD_SIZE, static_cast<uint32_t>(p->recordLength));
  } else if (p->recordLength == 0) {
    WriteFieldText(dialog, IDC_RECORD_SIZE, "");
  } else if (p->recordLength == kVariableRecords) {
    WriteFieldText(dialog, IDC_RECORD_SIZE, kVariableText);
  }
  if (p->statisticsFlag == 1) WriteCheckBox(dialog, IDC_STATISTICS, 1);
  for (int k = 0; k < kMaxKeys; k++) {
    WriteCount(dialog, IDC_KEY_POSITION(k), p->keys[k].position);
    WriteCount(dialog, IDC_KEY_LENGTH(k), p->keys[k].length);
    WriteLetter(dialog, IDC_KEY_TYPE(k), p->keys[k].type);
    WriteLetter(dialog, IDC_KEY_SEQUENCE(k), p->keys[k].sequence);
  }
}

void CaptureDialogFields(WindowHandle dialog) {
  SortParameters *p = &CurrentParameters;
  for (int k = 0; k < kMaxKeys; k++) p->keys[k] = KeyField{0, 0, '\0', '\0', 0};
  memset(p->inputName, 0, sizeof p->inputName);
  memset(p->outputName, 0, sizeof p->outputName);
  ReadFieldText(dialog, IDC_INPUT_NAME, p->inputName, kNameReadSize);
  ReadFieldText(dialog, IDC_OUTPUT_NAME, p->outputName, kNameReadSize);

  char size[kRecordSizeReadSize];
  size_t length = ReadFieldText(dialog, IDC_RECORD_SIZE, size, sizeof size);
  for (size_t i = 0; i < length; i++) {
    if (size[i] >= 'A' && size[i] <= 'Z') size[i] = static_cast<char>(size[i] - 'A' + 'a');
  }
  if (length >= kVariablePrefix && strncmp(size, kVariableText, length) == 0) {
    p->recordLength = kVariableRecords;
  } else {
    p->recordLength = ReadFieldNumber(dialog, IDC_RECORD_SIZE);
  }

  for (int k = 0; k < kMaxKeys; k++) {
    p->keys[k].position = ReadFieldNumber(dialog, IDC_KEY_POSITION(k));
    p->keys[k].length = ReadFieldNumber(dialog, IDC_KEY_LENGTH(k));
    p->keys[k].type = ReadLetter(dialog, IDC_KEY_TYPE(k));
    p->keys[k].sequence = ReadLetter(dialog, IDC_KEY_SEQUENCE(k));
  }
  p->statisticsFlag = ReadCheckBox(dialog, IDC_STATISTICS) ? 1 : 0;
  ParametersLoaded = 1;
}

void ShowStorageMessages(WindowHandle dialog, const StorageOutcome *outcome) {
  for (int i = 0; i < outcome->messageCount; i++) {
    ShowMessage(dialog, outcome->messages[i].text, StorageCaptionText(outcome->messages[i].caption));
  }
}

void ShowSavedEntries(WindowHandle dialog) {
  ShowControl(dialog, IDC_SAVED_LIST, 1);
  ShowControl(dialog, IDC_SAVED_LABEL, 1);
  ShowControl(dialog, IDC_REMOVE_ENTRY, 1);
  FocusControl(dialog, IDC_SAVED_LIST);
  ListUserEntries(&Outcome, AddToSavedList, dialog);
  ShowStorageMessages(dialog, &Outcome);
}

int LoadSavedEntry(WindowHandle dialog, const char *identifier) {
  if (LoadUserEntry(identifier, &Outcome) != 0) {
    ShowStorageMessages(dialog, &Outcome);
    return 1;
  }
  FillDialogFields(dialog);
  for (int k = 0; k < kMaxKeys; k++) RepaintControl(dialog, IDC_KEY_TITLE_LABEL(k));
  FocusControl(dialog, IDC_SAVED_LIST);
  return 0;
}

void LoadSelectedEntry(WindowHandle dialog) {
  char identifier[kIdentifierSize];
  GetListSelection(dialog, IDC_SAVED_LIST, identifier, sizeof identifier);
  LoadSavedEntry(dialog, identifier);
}

void RemoveSelectedEntry(WindowHandle dialog) {
  char identifier[kIdentifierSize];
  FocusControl(dialog, IDC_SAVED_LIST);
  GetListSelection(dialog, IDC_SAVED_LIST, identifier, sizeof identifier);
  if (identifier[0] == '\0') {
    ShowMessage(dialog, kMessageNothingSelected, kCaptionError);
    return;
  }
  if (strcmp(identifier, kProgramEntry) == 0) {
    ShowMessage(dialog, kMessageProgramOwned, kCaptionError);
    return;
  }
  if (ShowMessageBox(dialog, kMessageConfirmRemoval, kCaptionError, kButtonsOkCancel) != kAnswerOk) {
    ShowMessage(dialog, kMessageRemovalCanceled, kCaptionStatus);
    return;
  }
  ResetList(dialog, IDC_SAVED_LIST);
  FocusControl(dialog, IDC_SAVED_LIST);
  const int failed = RemoveUserEntry(identifier, &Outcome, AddToSavedList, dialog);
  ShowStorageMessages(dialog, &Outcome);
  if (failed == 0) ShowMessage(dialog, kMessageResequenced, kCaptionRemoved);
}

void ShowSortResult(WindowHandle dialog, int result) {
  if (result != 0) {
    ShowMessage(dialog, ErrorText, kCaptionError);
  } else {
    ShowMessage(dialog, kMessageSortDone, kCaptionStatus);
  }
}

int RunSortAction(WindowHandle dialog, int validateOnly, const SortActionOptions *options) {
  const SortParameters *p = &CurrentParameters;
  ParametersSaveFailed = 0;
  BuildParameterRecord();
  // A fixed-length set is saved before the sort, and for Validate too: it is known good.
  if (options->saveParameters && p->recordLength > 0) SaveParameters(dialog);
  if (validateOnly) {
    ShowMessage(dialog, kMessageValid, kCaptionStatus);
    return 1;
  }
  if (p->statisticsFlag == 1) SetStatisticsDirectory(p->inputName, options->bareNameFolder);
  ClearErrorText();
  if (options->sortStarts != nullptr) options->sortStarts();
  RunOutcome outcome;
  const int result = SortRun(&JobRecord, options->run, &outcome);
  options->showResult(dialog, result, &outcome);
  // A variable-length set proves itself only by a sort that succeeded.
  if (result == 0 && options->saveParameters && p->recordLength == kVariableRecords) SaveParameters(dialog);
  return result == 0 ? 0 : 1;
}
