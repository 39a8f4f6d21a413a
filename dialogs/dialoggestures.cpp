#include "dialogs/dialoggestures.h"

#include <cassert>

#include "storage/parameterfiles.h"

constexpr int kOffsetX = 4;   // pixels right of the owner's left edge
constexpr int kOffsetY = 22;  // pixels below the owner's top edge

const char kCaptionError[] = "  * * ERROR * *";

// Storage's captions, by kind.
static const char *const kStorageCaptions[kStorageCaptionKinds] = {
    kCaptionError, "* * Warning * *", "Internal Program Error", "Could Not Open File!"};
static_assert(kStorageCaptionError == 0 && kStorageCaptionWarning == 1 && kStorageCaptionInternal == 2 &&
                  kStorageCaptionCannotOpen == 3,
              "kStorageCaptions lists the kinds in their order");

const char *StorageCaptionText(int caption) {
  assert(caption >= 0 && caption < kStorageCaptionKinds);
  return kStorageCaptions[caption];
}

void PlaceBesideOwner(WindowHandle dialog, WindowHandle owner) {
  ScreenRect ownerRect;
  GetWindowRectangle(owner, &ownerRect);
  MoveWindowTo(dialog, ownerRect.left + kOffsetX, ownerRect.top + kOffsetY);
}

const char *FindLabelText(const LabelText *labels, size_t count, int control) {
  for (size_t i = 0; i < count; i++) {
    if (labels[i].control == control) return labels[i].text;
  }
  return nullptr;
}
